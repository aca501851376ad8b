#include "packing/parse_engine.h"

#include <cstring>

#include "platform/memory.h"

namespace vemtu::packing {
namespace {

enum : std::uint8_t {
  kSpace = 1,           // space, tab, CR, LF
  kTagEnd = 2,          // ends a tag name: white space, "/", ">"
  kAttributeEnd = 4,    // ends an attribute name: white space, "=", "/", ">"
  kPseudoEnd = 8,       // ends a pseudo-attribute name: white space, "=", "?", ">"
  kPseudoValueEnd = 16, // ends a pseudo-attribute value: quotes, CR, LF
};

struct CharClasses {
  std::uint8_t of[256] = {};
  constexpr CharClasses() {
    for (unsigned char c : {' ', '\t', '\r', '\n'}) of[c] |= kSpace | kTagEnd | kAttributeEnd | kPseudoEnd;
    of[static_cast<unsigned char>('/')] |= kTagEnd | kAttributeEnd;
    of[static_cast<unsigned char>('>')] |= kTagEnd | kAttributeEnd | kPseudoEnd;
    of[static_cast<unsigned char>('=')] |= kAttributeEnd | kPseudoEnd;
    of[static_cast<unsigned char>('?')] |= kPseudoEnd;
    for (unsigned char c : {'"', '\'', '\r', '\n'}) of[c] |= kPseudoValueEnd;
  }
};
constexpr CharClasses kClasses;

inline bool Is(char c, std::uint8_t cls) { return kClasses.of[static_cast<unsigned char>(c)] & cls; }

const char* ScanUntil(const char* p, const char* end, std::uint8_t cls) {
  while (p < end && !Is(*p, cls)) ++p;
  return p;
}

const char* FindByte(const char* p, const char* end, char c) {
  const void* hit = p < end ? std::memchr(p, c, static_cast<std::size_t>(end - p)) : nullptr;
  return hit ? static_cast<const char*>(hit) : end;
}

// The position of `what` at or after `p`, or null.
const char* FindText(const char* p, const char* end, std::string_view what) {
  std::string_view hay(p, static_cast<std::size_t>(end - p));
  std::size_t at = hay.find(what);
  return at == std::string_view::npos ? nullptr : p + at;
}

bool StartsWith(const char* p, const char* end, std::string_view prefix) {
  return static_cast<std::size_t>(end - p) >= prefix.size() &&
         std::memcmp(p, prefix.data(), prefix.size()) == 0;
}

bool StartsWithNoCase(const char* p, const char* end, std::string_view prefix) {
  if (static_cast<std::size_t>(end - p) < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = p[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
}

// Copies [begin, end) to `out`, replacing the five predefined references by their
// characters, and returns the length written (never more than the input). One pass from
// left to right gives what replacing each reference in turn over the whole text gives:
// references cannot overlap, and no replacement makes a new one.
std::size_t DecodeReferences(const char* begin, const char* end, char* out) {
  char* w = out;
  const char* p = begin;
  while (p < end) {
    const char* amp = FindByte(p, end, '&');
    std::memcpy(w, p, static_cast<std::size_t>(amp - p));
    w += amp - p;
    if (amp == end) break;
    struct Reference {
      std::string_view text;
      char byte;
    };
    static constexpr Reference kReferences[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    p = amp + 1;
    *w++ = '&';
    for (const Reference& r : kReferences) {
      if (StartsWith(amp, end, r.text)) {
        w[-1] = r.byte;
        p = amp + r.text.size();
        break;
      }
    }
  }
  return static_cast<std::size_t>(w - out);
}

// Appends the bytes of [begin, end) to `out`, leaving out those in `drop`.
void AppendWithout(std::vector<char>& out, const char* begin, const char* end, std::string_view drop) {
  for (const char* p = begin; p < end; ++p) {
    if (drop.find(*p) == std::string_view::npos) out.push_back(*p);
  }
}

}  // namespace

ParseEngine::ParseEngine(std::string_view text, bool auto_trim, LogBase& log, bool discard_read,
                         ParseObserver* observer)
    : p_(text.data()), end_(text.data() + text.size()), kept_(discard_read ? p_ : nullptr),
      auto_trim_(auto_trim), log_(log), observer_(observer) {
  if (const void* nul = std::memchr(text.data(), '\0', text.size())) end_ = static_cast<const char*>(nul);
  pending_tree_ = TreeInfo::Create();
}

ParseEngine::~ParseEngine() {
  if (open_tree_) open_tree_->DropReference();
  if (result_tree_) result_tree_->DropReference();
  pending_tree_->DropReference();
}

void ParseEngine::SkipSpace() {
  while (p_ < end_ && Is(*p_, kSpace)) ++p_;
}

// Between two steps of the parse nothing refers to the text before the position: the
// nodes hold copies. What lies behind is discarded in steps of a few megabytes.
void ParseEngine::DiscardRead() {
  constexpr std::size_t kDiscardStep = 4u << 20;
  if (static_cast<std::size_t>(p_ - kept_) < kDiscardStep) return;
  platform::DiscardPages(const_cast<char*>(kept_), static_cast<std::size_t>(p_ - kept_));
  kept_ = p_;
}

TreeNode* ParseEngine::Run() {
  while (p_ < end_) {
    if (kept_) DiscardRead();
    if (current_) {
      const char* lead_begin = p_;
      SkipSpace();
      const char* lead_end = p_;
      if (!StartsWith(p_, end_, "<![CDATA[")) {
        const char* run_end = FindByte(p_, end_, '<');
        const char* trimmed = run_end;
        if (auto_trim_) {
          while (trimmed > p_ && Is(trimmed[-1], kSpace)) --trimmed;
        }
        if (trimmed > p_) AddText(lead_begin, lead_end, p_, trimmed);
        p_ = run_end;
        if (p_ == end_) break;
        if (!StartsWith(p_, end_, "<![CDATA[")) {
          ++p_;
          if (Dispatch() == Step::kStop) break;
          continue;
        }
      }
      if (ReadCdata() == Step::kStop) break;
      continue;
    }
    SkipSpace();
    p_ = FindByte(p_, end_, '<');
    if (p_ == end_) break;
    ++p_;
    if (Dispatch() == Step::kStop) break;
  }
  return Finish();
}

ParseEngine::Step ParseEngine::ReadCdata() {
  // p_ is at "<![CDATA[".
  for (;;) {
    p_ += 9;
    const char* close = FindText(p_, end_, "]]>");
    NodeText& content = current_->MutableContent();
    current_->cdata = 1;
    if (!close) {
      content.Append(current_->arena(), std::string_view(p_, static_cast<std::size_t>(end_ - p_)));
      p_ = end_;
      return Step::kStop;
    }
    content.Append(current_->arena(), std::string_view(p_, static_cast<std::size_t>(close - p_)));
    p_ = FindByte(close + 3, end_, '<');
    if (p_ == end_) return Step::kStop;
    if (!StartsWith(p_, end_, "<![CDATA[")) break;
  }
  ++p_;
  return Dispatch();
}

void ParseEngine::AddText(const char* lead_begin, const char* lead_end, const char* run_begin,
                          const char* run_end) {
  TreeNode* node = current_;
  NodeArena& arena = node->arena();
  std::size_t lead = auto_trim_ ? 0 : static_cast<std::size_t>(lead_end - lead_begin);
  std::size_t run = static_cast<std::size_t>(run_end - run_begin);
  if (!node->text) {
    NodeText& content = node->MutableContent();
    char* out = content.Extend(arena, lead + run);
    std::memcpy(out, lead_begin, lead);
    content.Commit(lead + DecodeReferences(run_begin, run_end, out + lead));
    return;
  }
  NodeText& content = *node->text;
  content.Append(arena, std::string_view(lead_begin, lead));
  bool space = !content.empty();
  char* out = content.Extend(arena, run + 1);
  if (space) *out++ = ' ';
  content.Commit((space ? 1 : 0) + DecodeReferences(run_begin, run_end, out));
}

ParseEngine::Step ParseEngine::Dispatch() {
  // p_ is just past a "<".
  if (p_ == end_) return Step::kStop;
  if (*p_ == '!') {
    if (StartsWith(p_, end_, "!--")) {
      const char* close = FindText(p_ + 3, end_, "-->");
      if (!close) {
        log_.LogError("Unclosed comment");
        p_ = end_;
        return Step::kStop;
      }
      p_ = close + 3;
      return Step::kGoOn;
    }
    if (StartsWithNoCase(p_, end_, "!doctype")) {
      const char* begin = p_ - 1;
      int depth = 1;
      while (p_ < end_ && depth > 0) {
        if (*p_ == '<') ++depth;
        if (*p_ == '>') --depth;
        ++p_;
      }
      prolog_.Append(begin, static_cast<std::size_t>(p_ - begin));
      if (depth > 0) log_.LogError("Failed to parse DTD");
      prolog_.Append('\n');
      return Step::kGoOn;
    }
    p_ = FindByte(p_, end_, '>');
    if (p_ < end_) ++p_;
    return Step::kGoOn;
  }
  if (*p_ == '?') return ReadInstruction();
  if (*p_ == '/') return ReadEndTag();
  return ReadStartTag();
}

ParseEngine::Step ParseEngine::ReadInstruction() {
  // p_ is at the "?".
  bool declaration = StartsWithNoCase(p_ + 1, end_, "xml ");
  if (declaration || StartsWithNoCase(p_ + 1, end_, "xml-stylesheet")) {
    const char* word = ++p_;
    p_ = ScanUntil(p_, end_, kTagEnd);
    TreeNode* node = pending_tree_->NewNode();
    node->SetTag(std::string_view(word, static_cast<std::size_t>(p_ - word)));
    SkipSpace();
    if (p_ < end_ && *p_ == '/') ++p_;
    if (declaration) {
      pending_declaration_ = node;  // an earlier pending one is discarded
    } else {
      pending_stylesheets_.push_back(node);
    }
    return ReadPseudoAttributes(node);
  }
  const char* close = FindText(p_ + 1, end_, "?>");
  if (close) {
    prolog_.Append("<", 1);
    prolog_.Append(p_, static_cast<std::size_t>(close + 2 - p_));
    p_ = close + 2;
  } else {
    p_ = end_;
  }
  prolog_.Append('\n');
  return Step::kGoOn;
}

ParseEngine::Step ParseEngine::ReadPseudoAttributes(TreeNode* node) {
  SkipSpace();
  while (p_ < end_ && *p_ != '>') {
    const char* before = p_;
    const char* name_begin = p_;
    p_ = ScanUntil(p_, end_, kPseudoEnd);
    const char* name_end = p_;
    SkipSpace();
    const char* value_begin = p_;
    const char* value_end = p_;
    if (p_ < end_ && *p_ == '=') {
      ++p_;
      SkipSpace();
      if (p_ < end_ && *p_ == '"') ++p_;
      if (p_ < end_ && *p_ == '\'') ++p_;
      value_begin = p_;
      p_ = value_end = ScanUntil(p_, end_, kPseudoValueEnd);
      if (p_ < end_ && *p_ == '"') ++p_;
      if (p_ < end_ && *p_ == '\'') ++p_;
    }
    std::vector<char> name;
    AppendWithout(name, name_begin, name_end, "\"");
    if (!name.empty()) {
      std::vector<char> value(static_cast<std::size_t>(value_end - value_begin) + 1);
      std::size_t n = DecodeReferences(value_begin, value_end, value.data());
      node->AddAttribute(std::string_view(name.data(), name.size()), std::string_view(value.data(), n));
    }
    SkipSpace();
    if (p_ < end_ && *p_ == '?') {
      ++p_;
      SkipSpace();
    }
    if (p_ == before) ++p_;
  }
  if (p_ == end_) return Step::kStop;
  ++p_;
  return Step::kGoOn;
}

ParseEngine::Step ParseEngine::ReadEndTag() {
  // p_ is at the "/". The name is not compared with the open element.
  const char* p = p_;
  while (p < end_ && *p != '>' && *p != '<') ++p;
  if (p == end_) {
    p_ = end_;
    if (current_) CloseCurrent();
    return Step::kStop;
  }
  if (*p == '>') {
    p_ = p + 1;
  } else {
    p_ = p;
    log_.LogError("Error in closing tag");
    log_.LogData("error_tag", current_ ? current_->tag() : std::string_view());
  }
  if (current_) CloseCurrent();
  return Step::kGoOn;
}

ParseEngine::Step ParseEngine::ReadStartTag() {
  const char* tag_begin = p_;
  p_ = ScanUntil(p_, end_, kTagEnd);
  if (p_ == end_) return Step::kStop;
  std::string_view tag(tag_begin, static_cast<std::size_t>(p_ - tag_begin));
  SkipSpace();
  bool empty = false;
  if (p_ < end_ && *p_ == '/') {
    empty = true;
    ++p_;
  }

  TreeNode* element;
  if (current_) {
    element = current_->document->NewNode();
    // The element closed last is the current element's last child, if it is its child.
    current_->AppendChild(element, last_closed_ && last_closed_->parent == current_ ? last_closed_ : nullptr);
  } else {
    last_closed_ = nullptr;
    tags_.clear();  // they live in the arena of the previous tree
    TreeInfo* tree = TreeInfo::Create();
    tree->AddReference();
    if (open_tree_) open_tree_->DropReference();
    open_tree_ = tree;
    element = tree->NewNode();
    tree->root = element;
  }
  SetSharedTag(element, tag);
  current_ = element;

  attribute_bytes_.clear();
  attribute_lengths_.clear();
  while (p_ < end_ && *p_ != '>') {
    const char* before = p_;
    const char* name_begin = p_;
    p_ = ScanUntil(p_, end_, kAttributeEnd);
    const char* name_end = p_;
    SkipSpace();
    const char* value_begin = p_;
    const char* value_end = p_;
    if (p_ < end_ && *p_ == '=') {
      ++p_;
      SkipSpace();
      char quote = 0;
      if (p_ < end_ && (*p_ == '"' || *p_ == '\'')) quote = *p_++;
      value_begin = p_;
      if (quote) {
        p_ = FindByte(p_, end_, quote);
      } else {
        while (p_ < end_ && *p_ != '"' && *p_ != '\'') ++p_;
      }
      value_end = p_;
      if (p_ < end_ && (*p_ == '"' || *p_ == '\'')) ++p_;
    }
    // Quotes and "<" leave the name first; what remains decides about the pair and the
    // "A" in front, and sanitising then keeps only name bytes.
    const char* first = name_begin;
    while (first < name_end && (*first == '"' || *first == '\'' || *first == '<')) ++first;
    if (first < name_end) {
      std::size_t at = attribute_bytes_.size();
      attribute_bytes_.resize(at + static_cast<std::size_t>(name_end - first) + 1);
      std::size_t name_length =
          WriteAttributeName(std::string_view(first, static_cast<std::size_t>(name_end - first)),
                             attribute_bytes_.data() + at);
      attribute_bytes_.resize(at + name_length + static_cast<std::size_t>(value_end - value_begin));
      std::size_t value_length =
          DecodeReferences(value_begin, value_end, attribute_bytes_.data() + at + name_length);
      attribute_bytes_.resize(at + name_length + value_length);
      attribute_lengths_.push_back(static_cast<std::uint32_t>(name_length));
      attribute_lengths_.push_back(static_cast<std::uint32_t>(value_length));
    }
    SkipSpace();
    if (p_ < end_ && *p_ == '/') {
      empty = true;
      ++p_;
      SkipSpace();
    }
    if (p_ == before) ++p_;
  }
  if (!attribute_lengths_.empty()) {
    NodeArena& arena = element->arena();
    element->attributes = arena.Make<AttributeSet>();
    element->attributes->Assign(
        arena, std::string_view(attribute_bytes_.data(), attribute_bytes_.size()), attribute_lengths_);
  }
  if (p_ < end_) ++p_;
  if (observer_ && !element->parent) {
    observer_->TopLevelOpened(*element, pending_declaration_, pending_stylesheets_, prolog_.view());
  }
  if (empty) CloseCurrent();
  return Step::kGoOn;
}

// Most tags repeat: one copy of each is kept in the tree's arena and shared by its
// elements, up to a number of distinct tags that bounds the table.
void ParseEngine::SetSharedTag(TreeNode* element, std::string_view raw) {
  constexpr std::size_t kMostSharedTags = 4096;
  tag_scratch_.resize(raw.size());
  std::size_t n = 0;
  for (char c : raw) {
    if (IsNameByte(static_cast<unsigned char>(c))) tag_scratch_[n++] = c;  // drops "<" too
  }
  std::string_view tag(tag_scratch_.data(), n);
  auto found = tags_.find(tag);
  if (found != tags_.end()) {
    element->tag_data = found->data();
    element->tag_size = static_cast<std::uint32_t>(found->size());
    return;
  }
  element->SetTag(tag);
  if (tags_.size() < kMostSharedTags) tags_.insert(element->tag());
}

void ParseEngine::CloseCurrent() {
  TreeNode* element = current_;
  current_ = element->parent;
  last_closed_ = element;
  if (observer_ && current_ && !current_->parent) observer_->TopLevelChildClosed(*element);
  CloseElement(element);
}

void ParseEngine::CloseElement(TreeNode* element) {
  if (element->parent) return;
  TreeInfo* tree = element->document;
  tree->arena->Adopt(*pending_tree_->arena);
  if (pending_declaration_) pending_declaration_->document = tree;
  for (TreeNode* s : pending_stylesheets_) s->document = tree;
  tree->declaration = pending_declaration_;
  tree->stylesheets = std::move(pending_stylesheets_);
  tree->prolog = std::move(prolog_);
  pending_declaration_ = nullptr;
  pending_stylesheets_.clear();
  prolog_ = StringBuffer();
  if (result_tree_) result_tree_->DropReference();
  result_ = element;
  result_tree_ = tree;
  if (open_tree_ == tree) open_tree_ = nullptr;
}

TreeNode* ParseEngine::Finish() {
  if (!result_ && current_) {
    TreeNode* top = current_;
    while (top->parent) top = top->parent;
    current_ = nullptr;
    CloseElement(top);
  }
  // Elements of a later top-level element that is still open are freed with their tree
  // by the destructor, as is a declaration that was never handed over.
  current_ = nullptr;
  TreeNode* result = result_;
  result_ = nullptr;
  result_tree_ = nullptr;  // its reference passes to the caller
  return result;
}

}  // namespace vemtu::packing
