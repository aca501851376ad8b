#include "packing/tree_node.h"

#include <atomic>
#include <cstring>

namespace vemtu::packing {
namespace {

struct NameBytes {
  bool allowed[256] = {};
  constexpr NameBytes() {
    for (int c = 0; c < 256; ++c) {
      allowed[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                   c == '!' || c == '-' || c == '.' || c == ':' || c == '_' || c >= 0x80;
    }
  }
};
constexpr NameBytes kNameBytes;

std::uint32_t Checked32(std::size_t size) {
  if (size > kBufferLimit) throw std::bad_alloc();
  return static_cast<std::uint32_t>(size);
}

// Copies the name bytes of `name` to `out` and returns how many there were.
std::size_t CopyNameBytes(std::string_view name, char* out) {
  std::size_t n = 0;
  for (char c : name) {
    if (kNameBytes.allowed[static_cast<unsigned char>(c)]) out[n++] = c;
  }
  return n;
}

}  // namespace

bool IsNameByte(unsigned char byte) { return kNameBytes.allowed[byte]; }

std::size_t WriteAttributeName(std::string_view name, char* out) {
  std::size_t n = 0;
  if (!name.empty() && ((name[0] >= '0' && name[0] <= '9') || name[0] == '-' || name[0] == '.')) {
    out[n++] = 'A';
  }
  return n + CopyNameBytes(name, out + n);
}

// ---- NodeText

char* NodeText::Extend(NodeArena& arena, std::size_t count) {
  std::size_t needed = static_cast<std::size_t>(size) + count;
  Checked32(needed);
  if (needed > capacity) {
    std::size_t grown = data ? static_cast<std::size_t>(capacity) * 2 : needed;
    if (grown < needed) grown = needed;
    if (grown > kBufferLimit) grown = needed;
    char* moved = arena.AllocateText(grown);
    if (size) std::memcpy(moved, data, size);
    data = moved;
    capacity = static_cast<std::uint32_t>(grown);
  }
  return data + size;
}

void NodeText::Assign(NodeArena& arena, std::string_view text) {
  size = 0;
  Append(arena, text);
}

void NodeText::Append(NodeArena& arena, std::string_view text) {
  if (text.empty()) return;
  std::memcpy(Extend(arena, text.size()), text.data(), text.size());
  size += static_cast<std::uint32_t>(text.size());
}

// ---- AttributeSet

void AttributeSet::Add(NodeArena& arena, std::string_view name, std::string_view value) {
  if (count_ + 2 > capacity_) {
    std::uint32_t grown = capacity_ ? capacity_ * 2 : 4;
    auto* moved = static_cast<std::uint32_t*>(arena.Allocate(grown * sizeof(std::uint32_t), alignof(std::uint32_t)));
    if (count_) std::memcpy(moved, lengths_, count_ * sizeof(std::uint32_t));
    lengths_ = moved;
    capacity_ = grown;
  }
  bytes_.Append(arena, name);
  bytes_.Append(arena, value);
  lengths_[count_++] = Checked32(name.size());
  lengths_[count_++] = Checked32(value.size());
}

void AttributeSet::Assign(NodeArena& arena, std::string_view bytes,
                          const std::vector<std::uint32_t>& lengths) {
  bytes_ = NodeText{};
  bytes_.Assign(arena, bytes);
  count_ = capacity_ = Checked32(lengths.size());
  lengths_ = count_ ? static_cast<std::uint32_t*>(arena.Allocate(count_ * sizeof(std::uint32_t),
                                                                 alignof(std::uint32_t)))
                    : nullptr;
  if (count_) std::memcpy(lengths_, lengths.data(), count_ * sizeof(std::uint32_t));
}

bool AttributeSet::Lookup(std::string_view name, std::string_view* value) const {
  bool found = false;
  ForEach([&](std::string_view n, std::string_view v) {
    if (!found && n == name) {
      found = true;
      if (value) *value = v;
    }
  });
  return found;
}

void AttributeSet::Remove(std::string_view name) {
  char* read = bytes_.data;
  char* write = bytes_.data;
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i + 1 < count_; i += 2) {
    std::uint32_t pair = lengths_[i] + lengths_[i + 1];
    if (std::string_view(read, lengths_[i]) != name) {
      if (write != read) std::memmove(write, read, pair);
      write += pair;
      lengths_[kept++] = lengths_[i];
      lengths_[kept++] = lengths_[i + 1];
    }
    read += pair;
  }
  count_ = kept;
  bytes_.size = static_cast<std::uint32_t>(write - bytes_.data);
}

// ---- TreeNode

// A tree holds one node per element, so a few bytes more here are many more per document.
static_assert(sizeof(void*) != 8 || sizeof(TreeNode) == 64, "a tree node takes 64 bytes");

NodeArena& TreeNode::arena() const { return *document->arena; }

bool TreeNode::IsTreeRoot() const { return document && document->root == this; }

void TreeNode::SetTag(std::string_view name) {
  char* out = arena().AllocateText(name.size());
  tag_size = Checked32(CopyNameBytes(name, out));
  tag_data = out;
}

void TreeNode::AddAttribute(std::string_view name, std::string_view value) {
  NodeArena& a = arena();
  if (!attributes) attributes = a.Make<AttributeSet>();
  std::vector<char> clean(name.size() + 1);
  std::size_t n = WriteAttributeName(name, clean.data());
  attributes->Add(a, std::string_view(clean.data(), n), value);
}

NodeText& TreeNode::MutableContent() {
  if (!text) text = arena().Make<NodeText>();
  return *text;
}

void TreeNode::SetContent(std::string_view content) { MutableContent().Assign(arena(), content); }

void TreeNode::AppendChild(TreeNode* child, TreeNode* last) {
  child->parent = this;
  child->next = nullptr;
  if (last) {
    last->next = child;
  } else {
    first_child = child;
  }
  has_children = true;
}

void TreeNode::Detach() {
  if (parent) {
    if (parent->first_child == this) {
      parent->first_child = next;
    } else {
      TreeNode* before = parent->first_child;
      while (before->next != this) before = before->next;
      before->next = next;
    }
  }
  parent = next = nullptr;

  std::uint64_t held = 0;
  ForEachInSubtree(this, [&](TreeNode* n) { held += n->references; });
  if (held == 0) return;  // nothing refers to the subtree: it is gone with the arena
  TreeInfo* own = TreeInfo::Create(document->arena);
  own->root = this;
  own->references = static_cast<std::uint32_t>(held);
  ForEachInSubtree(this, [own](TreeNode* n) { n->document = own; });
}

// ---- TreeInfo

TreeInfo* TreeInfo::Create(std::shared_ptr<NodeArena> arena) {
  static std::atomic<std::uint64_t> serials{0};  // process-wide serial numbers of trees
  TreeInfo* tree = new TreeInfo();
  tree->arena = arena ? std::move(arena) : std::make_shared<NodeArena>();
  tree->serial = ++serials;
  return tree;
}

TreeNode* TreeInfo::NewNode() {
  TreeNode* node = arena->Make<TreeNode>();
  node->document = this;
  return node;
}

void TreeInfo::DropReference() {
  if (references > 0 && --references > 0) return;
  // Nodes that stay behind in an arena still shared with another tree are marked freed.
  if (arena.use_count() > 1 && root) {
    ForEachInSubtree(root, [this](TreeNode* n) {
      if (n->document == this) n->document = nullptr;
    });
  }
  delete this;
}

}  // namespace vemtu::packing
