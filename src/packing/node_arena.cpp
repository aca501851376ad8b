#include "packing/node_arena.h"

#include <cstdint>
#include <cstdlib>

namespace vemtu::packing {
namespace {
constexpr std::size_t kLargestBlock = 1 << 20;
constexpr std::size_t kHeader = 16;  // keeps payloads 16-byte aligned
}  // namespace

NodeArena::~NodeArena() {
  for (char* storage : adopted_) std::free(storage);
  while (blocks_) {
    Block* next = blocks_->next;
    std::free(blocks_);
    blocks_ = next;
  }
}

NodeArena::Block* NodeArena::NewBlock(std::size_t payload) {
  if (payload > (static_cast<std::size_t>(-1) >> 1)) throw std::bad_alloc();
  void* memory = std::malloc(kHeader + payload);
  if (!memory) throw std::bad_alloc();
  held_ += kHeader + payload;
  return static_cast<Block*>(memory);
}

void* NodeArena::Allocate(std::size_t size, std::size_t align) {
  std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(cursor_) + align - 1) & ~(align - 1);
  if (cursor_ && at + size <= reinterpret_cast<std::uintptr_t>(limit_)) {
    cursor_ = reinterpret_cast<char*>(at + size);
    return reinterpret_cast<void*>(at);
  }
  if (size + align > next_block_ / 4) {
    // A large request gets a block of its own behind the current one.
    Block* block = NewBlock(size + align);
    if (blocks_) {
      block->next = blocks_->next;
      blocks_->next = block;
    } else {
      block->next = nullptr;
      blocks_ = block;
    }
    char* payload = reinterpret_cast<char*>(block) + kHeader;
    return reinterpret_cast<void*>((reinterpret_cast<std::uintptr_t>(payload) + align - 1) & ~(align - 1));
  }
  Block* block = NewBlock(next_block_);
  block->next = blocks_;
  blocks_ = block;
  cursor_ = reinterpret_cast<char*>(block) + kHeader;
  limit_ = cursor_ + next_block_;
  if (next_block_ < kLargestBlock) next_block_ *= 2;
  at = (reinterpret_cast<std::uintptr_t>(cursor_) + align - 1) & ~(align - 1);
  cursor_ = reinterpret_cast<char*>(at + size);
  return reinterpret_cast<void*>(at);
}

void NodeArena::AdoptStorage(char* storage, std::size_t size) {
  if (!storage) return;
  try {
    adopted_.push_back(storage);
  } catch (...) {
    std::free(storage);
    throw;
  }
  held_ += size;
}

void NodeArena::Adopt(NodeArena& other) {
  adopted_.insert(adopted_.end(), other.adopted_.begin(), other.adopted_.end());
  other.adopted_.clear();
  held_ += other.held_;
  other.held_ = 0;
  if (!other.blocks_) return;
  Block* last = other.blocks_;
  while (last->next) last = last->next;
  if (blocks_) {
    last->next = blocks_->next;
    blocks_->next = other.blocks_;
  } else {
    last->next = nullptr;
    blocks_ = other.blocks_;
    cursor_ = other.cursor_;
    limit_ = other.limit_;
  }
  other.blocks_ = nullptr;
  other.cursor_ = other.limit_ = nullptr;
}

}  // namespace vemtu::packing
