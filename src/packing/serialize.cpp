#include "packing/serialize.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace vemtu::packing {
namespace {

constexpr int kMaxIndentLevels = 50;
constexpr std::string_view kLineEnd = "\r\n";

// The names after "&" that text escaping keeps as references (with the ";"), sorted.
constexpr std::string_view kKnownEntities[] = {
    "AElig",  "Aacute", "Acirc",  "Aelig",  "Agrave", "Aring",  "Atilde", "Auml",   "Ccedil",
    "Cedil",  "Cent",   "Copy",   "Curren", "ETH",    "Eacute", "Ecirc",  "Egrave", "Eth",
    "Euml",   "Iacute", "Icirc",  "Iexcl",  "Igrave", "Iquest", "Iuml",   "OElig",  "Oacute",
    "Ocirc",  "Oelig",  "Ograve", "Ordf",   "Ordm",   "Oslash", "Otilde", "Ouml",   "THORN",
    "Thorn",  "Uacute", "Ucirc",  "Ugrave", "Uml",    "Utilde", "Uuml",   "Yacute", "Yen",
    "Yuml",   "aElig",  "aacute", "acirc",  "acute",  "aelig",  "agrave", "amp",    "apos",
    "aring",  "atilde", "auml",   "brkbar", "bull",   "ccedil", "cedil",  "cent",   "copy",
    "curren", "deg",    "divide", "eTH",    "eacute", "ecirc",  "egrave", "eth",    "euml",
    "frac12", "frac14", "frac34", "gt",     "hibar",  "iacute", "icirc",  "iexcl",  "igrave",
    "iquest", "iuml",   "lt",     "micro",  "middot", "nbsp",   "not",    "ntilde", "oElig",
    "oacute", "ocirc",  "oelig",  "ograve", "ordf",   "ordm",   "oslash", "otilde", "ouml",
    "para",   "plusmn", "pound",  "quot",   "raquo",  "reg",    "sect",   "shy",    "sup1",
    "sup2",   "sup3",   "szlig",  "tHORN",  "thorn",  "uacute", "ucirc",  "ugrave", "uml",
    "utilde", "uuml",   "yacute", "yen",    "yuml",
};
constexpr std::size_t kLongestEntity = 6;

struct EscapeBytes {
  bool special[256] = {};
  constexpr EscapeBytes() {
    for (unsigned char c : {'"', '\'', '<', '>', '&'}) special[c] = true;
  }
};
constexpr EscapeBytes kEscape;

// True when the "&" at text[at] begins a reference the serialiser keeps.
bool IsKnownReference(std::string_view text, std::size_t at) {
  if (at + 1 < text.size() && text[at + 1] == '#') return true;
  // Only the next kLongestEntity + 1 bytes can hold the ";" of a known name; looking
  // further would make a text of many "&" cost time in the square of its length.
  std::size_t semicolon = text.substr(at + 1, kLongestEntity + 1).find(';');
  if (semicolon == std::string_view::npos) return false;
  semicolon += at + 1;
  std::string_view name = text.substr(at + 1, semicolon - at - 1);
  return std::binary_search(std::begin(kKnownEntities), std::end(kKnownEntities), name);
}

// Escapes text[from, to), looking ahead in the whole text where a reference is judged.
template <typename KeepAmpersand>
void AppendEscapedRange(std::string_view text, std::size_t from, std::size_t to, StringBuffer& out,
                        KeepAmpersand keep) {
  std::size_t run = from;
  for (std::size_t i = from; i < to; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (!kEscape.special[c]) continue;
    out.Append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out.Append("&quot;"); break;
      case '\'': out.Append("&apos;"); break;
      case '<': out.Append("&lt;"); break;
      case '>': out.Append("&gt;"); break;
      default: out.Append(keep(text, i) ? "&" : "&amp;"); break;
    }
  }
  out.Append(text.data() + run, to - run);
}

template <typename KeepAmpersand>
void AppendEscaped(std::string_view text, StringBuffer& out, KeepAmpersand keep) {
  AppendEscapedRange(text, 0, text.size(), out, keep);
}

// The output and where it goes on to: a large content is written in slices, each handed
// on before the next, so that it is not held whole a second time.
struct Output {
  StringBuffer& out;
  SerialDrain* drain;
  void HandOn() {
    if (drain && out.size() > drain->Threshold()) drain->Drain(out);
  }
};
constexpr std::size_t kContentSlice = 1u << 16;

void AppendAttributes(const AttributeSet* attributes, StringBuffer& out,
                      std::string_view skip = {}) {
  if (!attributes) return;
  attributes->ForEach([&](std::string_view name, std::string_view value) {
    if (!skip.empty() && name == skip) return;
    out.Append(' ');
    out.Append(name);
    out.Append("=\"");
    AppendEscapedAttribute(value, out);
    out.Append('"');
  });
}

void AppendIndent(int depth, StringBuffer& out) {
  out.AppendRepeated(' ', 4 * static_cast<std::size_t>(std::min(depth, kMaxIndentLevels)));
}

void AppendCdataContent(std::string_view content, StringBuffer& out) {
  if (content.find("]]>") == std::string_view::npos) {
    out.Append(content);
    return;
  }
  std::string pieces;
  AppendCdataPieces(content, pieces);
  out.Append(pieces);
}

// Writes the declaration, stylesheet instructions and prolog text of a tree.
void AppendPrologParts(const TreeNode* declaration, const std::vector<TreeNode*>& stylesheets,
                       std::string_view prolog, StringBuffer& out) {
  if (declaration) {
    out.Append("<?xml");
    const AttributeSet* attributes = declaration->attributes;
    std::string_view standalone;
    bool has_standalone = attributes && attributes->Lookup("standalone", &standalone);
    AppendAttributes(attributes, out, has_standalone ? "standalone" : "");
    if (has_standalone) {
      out.Append(" standalone=\"");
      AppendEscapedAttribute(standalone, out);
      out.Append('"');
    }
    out.Append(" ?>");
    out.Append(kLineEnd);
  }
  for (const TreeNode* sheet : stylesheets) {
    if (!sheet->attributes || sheet->attributes->empty()) continue;
    out.Append("<?xml-stylesheet");
    AppendAttributes(sheet->attributes, out);
    out.Append(" ?>");
    out.Append(kLineEnd);
  }
  if (!prolog.empty()) {
    out.Append(prolog);
    out.Append(kLineEnd);
  }
}

void AppendProlog(const TreeInfo& tree, StringBuffer& out, bool omit_declaration) {
  AppendPrologParts(omit_declaration ? nullptr : tree.declaration, tree.stylesheets, tree.prolog.view(), out);
}

void AppendStartTag(const TreeNode& node, StringBuffer& out) {
  out.Append('<');
  out.Append(node.tag().empty() ? std::string_view("nothing") : node.tag());
  AppendAttributes(node.attributes, out);
}

void AppendContent(const TreeNode& node, Output& output) {
  std::string_view content = node.content();
  StringBuffer& out = output.out;
  if (node.cdata) {
    out.Append("<![CDATA[");
    if (content.find("]]>") != std::string_view::npos) {
      AppendCdataContent(content, out);
    } else {
      for (std::size_t at = 0; at < content.size(); at += kContentSlice) {
        out.Append(content.substr(at, kContentSlice));
        output.HandOn();
      }
    }
    out.Append("]]>");
    return;
  }
  for (std::size_t at = 0; at < content.size(); at += kContentSlice) {
    AppendEscapedRange(content, at, std::min(content.size(), at + kContentSlice), out, IsKnownReference);
    output.HandOn();
  }
}

// Start tag and content. Returns false when the element was written whole as " />".
bool OpenElement(const TreeNode& node, Output& output, bool first_child, int depth,
                 bool omit_declaration) {
  StringBuffer& out = output.out;
  if (node.IsTreeRoot()) AppendProlog(*node.document, out, omit_declaration);
  if (first_child) out.Append(kLineEnd);
  AppendIndent(depth, out);
  AppendStartTag(node, out);
  if (node.content().empty() && !node.has_children) {
    out.Append(" />");
    out.Append(kLineEnd);
    return false;
  }
  out.Append('>');
  if (!node.content().empty()) AppendContent(node, output);
  return true;
}

void CloseElement(const TreeNode& node, StringBuffer& out, int depth) {
  if (node.has_children || out.EndsWith('\n')) AppendIndent(depth, out);
  out.Append("</");
  out.Append(node.tag().empty() ? std::string_view("nothing") : node.tag());
  out.Append('>');
  out.Append(kLineEnd);
}

}  // namespace

void AppendCdataPieces(std::string_view content, std::string& out) {
  for (std::size_t at = 0;;) {
    std::size_t end = content.find("]]>", at);
    if (end == std::string_view::npos) {
      out.append(content.substr(at));
      return;
    }
    out.append(content.substr(at, end - at));
    out += "]]]]><![CDATA[>";
    at = end + 3;
  }
}

void AppendRootOpening(const TreeNode* declaration, const std::vector<TreeNode*>& stylesheets,
                       std::string_view prolog, const TreeNode& root, StringBuffer& out) {
  AppendPrologParts(declaration, stylesheets, prolog, out);
  out.Append(kLineEnd);
  AppendStartTag(root, out);
  out.Append('>');
}

void AppendRootClosing(const TreeNode& root, StringBuffer& out) { CloseElement(root, out, 0); }

void AppendEscapedText(std::string_view text, StringBuffer& out) {
  AppendEscaped(text, out, IsKnownReference);
}

void AppendEscapedAttribute(std::string_view value, StringBuffer& out) {
  AppendEscaped(value, out, [](std::string_view v, std::size_t at) {
    return at + 1 < v.size() && v[at + 1] == '#';
  });
}

void SerializeNode(const TreeNode& top, StringBuffer& out, int child_index, int depth,
                   bool omit_declaration, SerialDrain* drain) {
  Output output{out, drain};
  auto hand_on = [&] { output.HandOn(); };
  const TreeNode* node = &top;
  bool first = child_index == 0;
  bool omit = omit_declaration;
  for (;;) {
    // Going down: open the node and, when it has children, its first child next.
    bool open = OpenElement(*node, output, first, depth, omit);
    hand_on();
    if (open && node->first_child) {
      node = node->first_child;
      first = true;
      omit = false;
      ++depth;
      continue;
    }
    if (open) {
      CloseElement(*node, out, depth);
      hand_on();
    }
    // Going up: close each parent whose last child is done, until a next sibling.
    while (node != &top && !node->next) {
      node = node->parent;
      --depth;
      CloseElement(*node, out, depth);
      hand_on();
    }
    if (node == &top) return;
    node = node->next;
    first = false;
    omit = false;
  }
}

}  // namespace vemtu::packing
