#include "transport/reply_buffer.h"

#include <cstring>
#include <new>

namespace vemtu {

void ReplyBuffer::AppendReplyBytes(const char* bytes, std::size_t count) {
  if (bytes == nullptr || count == 0) return;
  if (used_ + count > kLimit) return;
  if (!block_) {
    std::size_t size = count + 513;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]());
    if (!block) return;
    std::memcpy(block.get(), bytes, count);
    block_ = std::move(block);
    capacity_ = size;
    used_ = count;
    return;
  }
  if (used_ + count + 1 > capacity_ - 1) {
    std::size_t size = used_ + count + 514;
    if (size < 2 * capacity_) size = 2 * capacity_;
    std::unique_ptr<char[]> block(new (std::nothrow) char[size]());
    if (!block) return;
    std::memcpy(block.get(), block_.get(), used_);
    block_ = std::move(block);
    capacity_ = size;
  }
  std::memcpy(block_.get() + used_, bytes, count);
  used_ += count;
}

}  // namespace vemtu
