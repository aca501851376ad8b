// The reply of a POST collected in memory: a byte block that always ends in at least one
// zero byte, so that it can be read as text.
#pragma once

#include <cstddef>
#include <memory>

namespace vemtu {

class ReplyBuffer {
 public:
  // Bytes past this many are dropped: a reply is a short text, and a server that
  // streams without end must not take the process's memory.
  static constexpr std::size_t kLimit = 16u * 1024 * 1024;

  ReplyBuffer() = default;
  ReplyBuffer(const ReplyBuffer&) = delete;
  ReplyBuffer& operator=(const ReplyBuffer&) = delete;

  // Appends `count` bytes. The first call allocates count + 513 zeroed bytes; a later
  // call appends in place while used + count + 1 stays below the block's size, and
  // otherwise moves to a zeroed block of at least used + count + 514 bytes (doubling,
  // so that a long reply is not copied once per read). Nothing happens without bytes;
  // an allocation failure, or passing the limit, drops the bytes of that call.
  void AppendReplyBytes(const char* bytes, std::size_t count);

  const char* data() const { return block_.get(); }  // nullptr until the first bytes
  std::size_t size() const { return used_; }
  std::size_t capacity() const { return capacity_; }

 private:
  std::unique_ptr<char[]> block_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
};

}  // namespace vemtu
