// Growable byte buffers of the document packing. Both grow geometrically through
// realloc (large blocks are remapped rather than copied) and stop at kBufferLimit: a
// request past the limit or a failed allocation throws std::bad_alloc, which the
// packing entry points turn into a failure.
#pragma once

#include <cstddef>
#include <string_view>

namespace vemtu::packing {

// Nothing held by one buffer, and no document text, may reach 4 GiB: node texts count
// their bytes in 32 bits.
constexpr std::size_t kBufferLimit = 0xFFFFFF00u;

// Shared storage of the two buffer types.
class ByteStore {
 public:
  ByteStore() = default;
  ~ByteStore();
  ByteStore(ByteStore&& other) noexcept;
  ByteStore& operator=(ByteStore&& other) noexcept;
  ByteStore(const ByteStore&) = delete;
  ByteStore& operator=(const ByteStore&) = delete;

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {data_ ? data_ : "", size_}; }
  char* data() { return data_; }
  void Reserve(std::size_t capacity);
  void Append(const char* bytes, std::size_t count);
  void Append(std::string_view bytes) { Append(bytes.data(), bytes.size()); }
  void Append(char byte) {
    if (size_ + 1 >= capacity_) Grow(size_ + 1);
    data_[size_++] = byte;
  }
  // Appends `count` copies of `byte`.
  void AppendRepeated(char byte, std::size_t count);
  // Makes room for `count` more bytes and returns where they go; Commit(count) adds them.
  char* Extend(std::size_t count);
  void Commit(std::size_t count) { size_ += count; }
  void Clear() { size_ = 0; }
  // Removes the first `count` bytes.
  void Erase(std::size_t count);
  // Keeps the first `size` bytes.
  void Truncate(std::size_t size) {
    if (size < size_) size_ = size;
  }
  // Frees the storage.
  void Release();
  // Hands the storage (from malloc, to be given to free) to the caller and leaves the
  // buffer empty; null when it held none.
  char* TakeStorage();

 protected:
  void Grow(std::size_t needed);
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;  // always one byte more than the bytes it may hold
};

// A text buffer that keeps a terminating NUL after its bytes.
class StringBuffer : public ByteStore {
 public:
  const char* c_str() const { return data_ ? (data_[size_] = '\0', data_) : ""; }
  bool EndsWith(char byte) const { return size_ > 0 && data_[size_ - 1] == byte; }
};

// A byte buffer for file contents and compressed data.
class DataBuffer : public ByteStore {};

}  // namespace vemtu::packing
