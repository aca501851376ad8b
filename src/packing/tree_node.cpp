#include "packing/tree_node.h"

#include <algorithm>
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

// Makes room for `count` more bytes after the `size` bytes of an arena text, doubling its
// capacity (moving the bytes) when it is full; returns where the new bytes go.
char* ExtendArenaText(NodeArena& arena, char*& data, std::uint32_t size, std::uint32_t& capacity,
                      std::size_t count) {
  std::size_t needed = static_cast<std::size_t>(size) + count;
  Checked32(needed);
  if (needed > capacity) {
    std::size_t grown = std::max<std::size_t>(needed, static_cast<std::size_t>(capacity) * 2);
    if (grown > kBufferLimit) grown = needed;
    char* moved = arena.AllocateText(grown);
    if (size) std::memcpy(moved, data, size);
    data = moved;
    capacity = static_cast<std::uint32_t>(grown);
  }
  return data + size;
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
  return ExtendArenaText(arena, data, size, capacity, count);
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

namespace {

std::size_t LengthBytes(std::size_t value) {
  std::size_t n = 1;
  while (value >= 0x80) {
    value >>= 7;
    ++n;
  }
  return n;
}

char* WriteLength(char* at, std::size_t value) {
  while (value >= 0x80) {
    *at++ = static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  *at++ = static_cast<char>(value);
  return at;
}

char* WritePair(char* at, std::string_view name, std::string_view value) {
  at = WriteLength(at, name.size());
  at = WriteLength(at, value.size());
  if (!name.empty()) std::memcpy(at, name.data(), name.size());
  if (!value.empty()) std::memcpy(at + name.size(), value.data(), value.size());
  return at + name.size() + value.size();
}

std::size_t PairBytes(std::size_t name, std::size_t value) {
  return LengthBytes(name) + LengthBytes(value) + name + value;
}

}  // namespace

std::size_t AttributeSet::Count() const {
  std::size_t n = 0;
  ForEach([&](std::string_view, std::string_view) { ++n; });
  return n;
}

char* AttributeSet::Extend(NodeArena& arena, std::size_t count) {
  return ExtendArenaText(arena, data_, size_, capacity_, count);
}

void AttributeSet::Add(NodeArena& arena, std::string_view name, std::string_view value) {
  std::size_t bytes = PairBytes(name.size(), value.size());
  WritePair(Extend(arena, bytes), name, value);
  size_ += static_cast<std::uint32_t>(bytes);
}

void AttributeSet::Assign(NodeArena& arena, std::string_view bytes,
                          const std::vector<std::uint32_t>& lengths) {
  std::size_t total = 0;
  for (std::size_t i = 0; i + 1 < lengths.size(); i += 2) total += PairBytes(lengths[i], lengths[i + 1]);
  data_ = total ? arena.AllocateText(Checked32(total)) : nullptr;
  size_ = capacity_ = static_cast<std::uint32_t>(total);
  char* at = data_;
  const char* from = bytes.data();
  for (std::size_t i = 0; i + 1 < lengths.size(); i += 2) {
    at = WritePair(at, std::string_view(from, lengths[i]), std::string_view(from + lengths[i], lengths[i + 1]));
    from += lengths[i] + lengths[i + 1];
  }
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
  char* write = data_;
  const char* read = data_;
  const char* end = data_ + size_;
  while (read < end) {
    const char* pair = read;
    std::uint32_t name_size = ReadLength(read);
    std::uint32_t value_size = ReadLength(read);
    const char* next = read + name_size + value_size;
    if (std::string_view(read, name_size) != name) {
      std::size_t bytes = static_cast<std::size_t>(next - pair);
      if (write != pair) std::memmove(write, pair, bytes);
      write += bytes;
    }
    read = next;
  }
  size_ = static_cast<std::uint32_t>(write - data_);
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

void TreeNode::TakeContent(ByteStore& buffer) {
  const std::uint32_t size = Checked32(buffer.size());
  NodeText& content = MutableContent();
  char* storage = buffer.TakeStorage();
  arena().AdoptStorage(storage, size);
  content.data = storage;
  content.size = content.capacity = size;
}

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
