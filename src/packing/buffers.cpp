#include "packing/buffers.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace vemtu::packing {

ByteStore::~ByteStore() { std::free(data_); }

ByteStore::ByteStore(ByteStore&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

ByteStore& ByteStore::operator=(ByteStore&& other) noexcept {
  if (this != &other) {
    std::free(data_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

char* ByteStore::TakeStorage() {
  char* taken = data_;
  data_ = nullptr;
  size_ = capacity_ = 0;
  return taken;
}

void ByteStore::Release() {
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

void ByteStore::Grow(std::size_t needed) {
  if (needed > kBufferLimit) throw std::bad_alloc();
  std::size_t capacity = capacity_ < 64 ? 64 : capacity_;
  while (capacity <= needed) capacity = capacity < kBufferLimit / 2 ? capacity * 2 : kBufferLimit + 1;
  void* grown = std::realloc(data_, capacity);
  if (!grown) throw std::bad_alloc();
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
}

void ByteStore::Reserve(std::size_t capacity) {
  if (capacity > kBufferLimit) throw std::bad_alloc();
  if (capacity + 1 <= capacity_) return;
  void* grown = std::realloc(data_, capacity + 1);
  if (!grown) throw std::bad_alloc();
  data_ = static_cast<char*>(grown);
  capacity_ = capacity + 1;
}

void ByteStore::Append(const char* bytes, std::size_t count) {
  if (count == 0) return;
  std::memcpy(Extend(count), bytes, count);
  size_ += count;
}

void ByteStore::AppendRepeated(char byte, std::size_t count) {
  if (count == 0) return;
  std::memset(Extend(count), byte, count);
  size_ += count;
}

void ByteStore::Erase(std::size_t count) {
  if (count >= size_) {
    size_ = 0;
    return;
  }
  std::memmove(data_, data_ + count, size_ - count);
  size_ -= count;
}

char* ByteStore::Extend(std::size_t count) {
  if (count > kBufferLimit - size_) throw std::bad_alloc();
  if (size_ + count >= capacity_) Grow(size_ + count);
  return data_ + size_;
}

}  // namespace vemtu::packing
