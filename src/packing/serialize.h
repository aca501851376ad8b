// The fixed layout in which a document is written: CR LF line ends, four spaces of
// indentation per level (at most 50 levels), content before children.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "packing/buffers.h"
#include "packing/tree_node.h"

namespace vemtu::packing {

// Takes a serialisation in pieces as it is written, so that it need not be held whole.
class SerialDrain {
 public:
  virtual ~SerialDrain() = default;
  // Called whenever `out` holds more than Threshold() bytes; takes bytes from the front
  // of `out` and leaves at least the last one there (the layout looks back at it).
  virtual void Drain(StringBuffer& out) = 0;
  virtual std::size_t Threshold() const = 0;
};

// Appends the serialisation of `node` and its subtree to `out`, handing it on to `drain`
// in pieces when one is given. For a tree's root the declaration (unless
// `omit_declaration`), the stylesheet instructions and the prolog text come first.
// Walks the tree without recursion.
void SerializeNode(const TreeNode& node, StringBuffer& out, int child_index, int depth,
                   bool omit_declaration, SerialDrain* drain = nullptr);

// `content` as the inside of a CDATA section: every "]]>" in it is written as
// "]]]]><![CDATA[>", ending the section after "]]" and opening the next before ">", so
// the section never ends early and an XML reader joins the pieces into the whole text.
void AppendCdataPieces(std::string_view content, std::string& out);

// A tree root whose content is empty and which has children, in two parts around the
// serialisations of its children (each SerializeNode with its index and depth 1): the
// prolog given in its parts, CR LF and the start tag up to its ">"; then the end tag.
void AppendRootOpening(const TreeNode* declaration, const std::vector<TreeNode*>& stylesheets,
                       std::string_view prolog, const TreeNode& root, StringBuffer& out);
void AppendRootClosing(const TreeNode& root, StringBuffer& out);

// The escaping of element text and of attribute values.
void AppendEscapedText(std::string_view text, StringBuffer& out);
void AppendEscapedAttribute(std::string_view value, StringBuffer& out);

}  // namespace vemtu::packing
