// The block allocator that holds the nodes and texts of one tree. Nodes never free
// memory one by one: a tree's blocks go when the last tree that shares them goes, which
// keeps a parse to a few large allocations and the tree close to the size of its text.
#pragma once

#include <cstddef>
#include <new>
#include <utility>
#include <vector>

namespace vemtu::packing {

class NodeArena {
 public:
  NodeArena() = default;
  ~NodeArena();
  NodeArena(const NodeArena&) = delete;
  NodeArena& operator=(const NodeArena&) = delete;

  // Room for `size` bytes aligned to `align` (a power of two); throws std::bad_alloc.
  void* Allocate(std::size_t size, std::size_t align);
  char* AllocateText(std::size_t size) { return static_cast<char*>(Allocate(size, 1)); }
  template <typename T>
  T* Make() {
    return new (Allocate(sizeof(T), alignof(T))) T();
  }

  // Takes over every block of `other`, which is left empty.
  void Adopt(NodeArena& other);
  // Takes over `storage`, memory from malloc, to free it with the blocks: a large text
  // made elsewhere joins the tree without a copy.
  void AdoptStorage(char* storage, std::size_t size);

  // Bytes held in blocks.
  std::size_t BytesHeld() const { return held_; }

 private:
  struct Block {
    Block* next;
  };
  Block* NewBlock(std::size_t payload);

  Block* blocks_ = nullptr;
  std::vector<char*> adopted_;  // from AdoptStorage
  char* cursor_ = nullptr;
  char* limit_ = nullptr;
  std::size_t next_block_ = 4096;
  std::size_t held_ = 0;
};

}  // namespace vemtu::packing
