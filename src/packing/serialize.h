// The fixed layout in which a document is written: CR LF line ends, four spaces of
// indentation per level (at most 50 levels), content before children.
#pragma once

#include "packing/buffers.h"
#include "packing/tree_node.h"

namespace vemtu::packing {

// Appends the serialisation of `node` and its subtree to `out`. For a tree's root the
// declaration (unless `omit_declaration`), the stylesheet instructions and the prolog
// text come first. Walks the tree without recursion.
void SerializeNode(const TreeNode& node, StringBuffer& out, int child_index, int depth,
                   bool omit_declaration);

// The escaping of element text and of attribute values.
void AppendEscapedText(std::string_view text, StringBuffer& out);
void AppendEscapedAttribute(std::string_view value, StringBuffer& out);

}  // namespace vemtu::packing
