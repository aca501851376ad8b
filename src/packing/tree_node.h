// The tree of an XML document: elements (TreeNode), the record shared by the nodes of
// one tree (TreeInfo) and the attributes of an element (AttributeSet). Node texts live in
// the tree's NodeArena.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "packing/buffers.h"
#include "packing/node_arena.h"

namespace vemtu::packing {

struct TreeInfo;

// A text held in a NodeArena. Growing it moves it to a larger place in the same arena.
struct NodeText {
  char* data = nullptr;
  std::uint32_t size = 0;
  std::uint32_t capacity = 0;

  std::string_view view() const { return {data ? data : "", size}; }
  bool empty() const { return size == 0; }
  void Assign(NodeArena& arena, std::string_view text);
  void Append(NodeArena& arena, std::string_view text);
  // Room for `count` more bytes at the end; Commit(count) adds them.
  char* Extend(NodeArena& arena, std::size_t count);
  void Commit(std::size_t count) { size += static_cast<std::uint32_t>(count); }
};

// The (name, value) pairs of one element, in the order they were added, in one text:
// per pair the name's length and the value's length (7 bits a byte, the high bit set on
// every byte but the last of each), then the name and the value.
class AttributeSet {
 public:
  std::size_t Count() const;
  bool empty() const { return size_ == 0; }
  void Add(NodeArena& arena, std::string_view name, std::string_view value);
  // Replaces everything by the pairs of `bytes` (names and values back to back) and
  // `lengths` (name length, value length, alternately), sized exactly.
  void Assign(NodeArena& arena, std::string_view bytes, const std::vector<std::uint32_t>& lengths);
  // The value of the first pair named exactly `name`.
  bool Lookup(std::string_view name, std::string_view* value) const;
  // Removes every pair named `name`.
  void Remove(std::string_view name);

  // Calls visit(name, value) for each pair in order.
  template <typename Visit>
  void ForEach(Visit&& visit) const {
    const char* at = data_;
    const char* end = data_ + size_;
    while (at < end) {
      std::uint32_t name_size = ReadLength(at);
      std::uint32_t value_size = ReadLength(at);
      std::string_view name(at, name_size);
      std::string_view value(at + name_size, value_size);
      at += name_size + value_size;
      visit(name, value);
    }
  }

 private:
  static std::uint32_t ReadLength(const char*& at) {
    std::uint32_t value = 0;
    for (int shift = 0;; shift += 7) {
      unsigned char byte = static_cast<unsigned char>(*at++);
      value |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
      if (!(byte & 0x80)) return value;
    }
  }
  // Room for `count` more bytes at the end.
  char* Extend(NodeArena& arena, std::size_t count);

  char* data_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

// One element. Kept small, as a tree holds one per element of its text: siblings are
// linked one way only, the tag is an unchangeable text that nodes of one tree share, and
// the content lives apart, made with the first text.
struct TreeNode {
  TreeInfo* document = nullptr;  // the tree this node belongs to
  TreeNode* parent = nullptr;
  TreeNode* first_child = nullptr;
  TreeNode* next = nullptr;
  const char* tag_data = nullptr;  // sanitised; written as "nothing" when empty
  AttributeSet* attributes = nullptr;
  NodeText* text = nullptr;        // the content: null until created (it may stay empty)
  std::uint32_t tag_size = 0;
  std::uint32_t references : 30;   // handles that refer to this node
  std::uint32_t cdata : 1;         // the content is written as one CDATA section
  std::uint32_t has_children : 1;  // the children list was created (it may be empty again)

  TreeNode() : references(0), cdata(0), has_children(0) {}
  std::string_view tag() const { return {tag_data ? tag_data : "", tag_size}; }
  // The content, predefined references already decoded.
  std::string_view content() const { return text ? text->view() : std::string_view(); }
  // The content for writing, created when there is none yet.
  NodeText& MutableContent();
  NodeArena& arena() const;
  bool IsTreeRoot() const;
  void SetTag(std::string_view name);
  // Adds a pair; the name is sanitised, and gets "A" in front when it starts with a
  // digit, "-" or ".".
  void AddAttribute(std::string_view name, std::string_view value);
  void SetContent(std::string_view text);
  // Makes the bytes of `buffer` the content without copying them; `buffer` is left empty.
  void TakeContent(ByteStore& buffer);
  // Links `child` after `last`, which must be this node's last child (null when it has
  // none): the caller that builds a tree knows it, so no node keeps it.
  void AppendChild(TreeNode* child, TreeNode* last);
  // Unlinks every child at once. Handles are only ever held on the root of a tree (a
  // document holds its root), so the children hold none: their nodes stay in the arena
  // until it is freed, unreachable.
  void DropChildren() { first_child = nullptr; }
};

// The record that the nodes of one tree share.
struct TreeInfo {
  TreeNode* root = nullptr;
  TreeNode* declaration = nullptr;       // tag = the declaration's target word
  std::vector<TreeNode*> stylesheets;    // one per xml-stylesheet instruction
  StringBuffer prolog;                   // DOCTYPE and other instructions, each + LF
  std::uint64_t serial = 0;              // from a process-wide counter
  std::uint32_t references = 0;          // the tree is freed when this drops to zero
  std::shared_ptr<NodeArena> arena;      // where its nodes and texts live

  // A new tree with no references, in `arena` or in a fresh one.
  static TreeInfo* Create(std::shared_ptr<NodeArena> arena = nullptr);
  // A new node in this tree's arena, not yet linked anywhere.
  TreeNode* NewNode();
  void AddReference() { ++references; }
  void DropReference();

 private:
  TreeInfo() = default;
  ~TreeInfo() = default;
};

// Name sanitising: every byte is removed that is not an ASCII letter or digit, one of
// "!", "-", ".", ":", "_", or a byte of 0x80 or above.
bool IsNameByte(unsigned char byte);
// Writes the sanitised form of an attribute name to `out` (room for name.size() + 1
// bytes), with the "A" put in front of a name starting with a digit, "-" or ".", and
// returns its length.
std::size_t WriteAttributeName(std::string_view name, char* out);

// Visits `top` and every node below it, parents before children, without recursion.
template <typename Visit>
void ForEachInSubtree(TreeNode* top, Visit&& visit) {
  TreeNode* node = top;
  while (node) {
    TreeNode* down = node->first_child;
    visit(node);
    if (down) {
      node = down;
      continue;
    }
    while (node != top && !node->next) node = node->parent;
    node = node == top ? nullptr : node->next;
  }
}

}  // namespace vemtu::packing
