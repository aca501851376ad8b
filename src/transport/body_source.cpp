#include "transport/body_source.h"

#include <algorithm>
#include <cstring>

#include "platform/agent_folder.h"
#include "platform/errors.h"

namespace vemtu {
namespace {

constexpr std::uint32_t kErrorFileTooLarge = 223;
constexpr std::uint32_t kErrorAccessDenied = 5;

// Copies what is left of `from` (after `pos`) into `chunk` up to `room` bytes.
std::size_t Take(std::string_view from, std::size_t& pos, char* chunk, std::size_t room) {
  std::size_t n = std::min(room, from.size() - pos);
  if (n) std::memcpy(chunk, from.data() + pos, n);
  pos += n;
  return n;
}

}  // namespace

std::string ReadBodyHead(const HeldBody& body) {
  constexpr std::uint64_t kHeadBytes = 64 * 1024;
  std::string head;
  if (!body.file || !body.identity.valid) return head;
  head.resize(static_cast<std::size_t>(std::min(kHeadBytes, body.identity.size)));
  long long got = body.file->ReadAt(head.data(), head.size(), 0);
  head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return head;
}

bool BodySource::Start(std::uint32_t& declared_length, std::uint32_t& error) {
  prefix_pos_ = text_pos_ = suffix_pos_ = 0;
  file_pos_ = 0;
  file_done_ = false;
  block_ = {};
  block_pos_ = 0;
  read_pos_ = 0;
  std::uint64_t body = text_.size();
  if (!body_file_.empty()) {
    platform::FileIdentity identity = held_identity_;
    file_ = held_;
    if (!file_) {
      opened_.Close();
      opened_ = platform::File::Open(body_file_, platform::OpenMode::kReadExisting);
      if (!opened_.IsOpen()) {
        error = static_cast<std::uint32_t>(platform::LastError());
        return false;
      }
      file_ = &opened_;
      identity = opened_.IdentityAtOpen();
    }
    if (!identity.valid) {
      error = static_cast<std::uint32_t>(platform::LastError());
      opened_.Close();
      return false;
    }
    if (identity.links > 1 && !platform::SecondNamesHarmless()) {
      // A body with a second name may be a file from outside the agent folder.
      error = kErrorAccessDenied;
      opened_.Close();
      return false;
    }
    file_size_ = identity.size;
    body = file_size_;
  }
  std::uint64_t total = prefix_.size() + body + suffix_.size();
  if (total > 0xFFFFFFFFull) {
    error = kErrorFileTooLarge;
    opened_.Close();
    return false;
  }
  declared_length = static_cast<std::uint32_t>(total);
  return true;
}

long long BodySource::ReadFile(char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (block_pos_ == block_.size()) {
      std::uint64_t left = file_size_ - read_pos_;
      if (left == 0) break;
      const auto want =
          static_cast<std::size_t>(std::min<std::uint64_t>(kReadAhead, left));
      if (read_pos_ < head_.size()) {
        block_ = head_.substr(static_cast<std::size_t>(read_pos_), want);
      } else {
        if (ahead_.empty()) ahead_.resize(kReadAhead);
        long long got = file_->ReadAt(ahead_.data(), want, read_pos_);
        if (got < 0) return -1;
        if (got == 0) break;
        block_ = std::string_view(ahead_.data(), static_cast<std::size_t>(got));
      }
      block_pos_ = 0;
      read_pos_ += block_.size();
      // A file held for its post has been read whole: a writer need wait no longer.
      if (held_ && read_pos_ == file_size_) held_->EndWriterHold();
    }
    std::size_t part = std::min(size - done, block_.size() - block_pos_);
    std::memcpy(out + done, block_.data() + block_pos_, part);
    block_pos_ += part;
    done += part;
  }
  return static_cast<long long>(done);
}

long long BodySource::Fill(char* chunk, std::size_t capacity, std::uint32_t& error) {
  std::memset(chunk, 0, capacity);
  std::size_t used = Take(prefix_, prefix_pos_, chunk, capacity);
  if (body_file_.empty()) {
    used += Take(text_, text_pos_, chunk + used, capacity - used);
  } else {
    while (used < capacity && !file_done_) {
      std::uint64_t left = file_size_ - file_pos_;
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(capacity - used, left));
      if (want == 0) {
        file_done_ = true;
        break;
      }
      long long got = ReadFile(chunk + used, want);
      if (got < 0) {
        error = static_cast<std::uint32_t>(platform::LastError());
        return -1;
      }
      used += static_cast<std::size_t>(got);
      file_pos_ += static_cast<std::uint64_t>(got);
      if (static_cast<std::size_t>(got) < want) file_done_ = true;
    }
  }
  if (used < capacity && (body_file_.empty() || file_done_)) {
    used += Take(suffix_, suffix_pos_, chunk + used, capacity - used);
  }
  return static_cast<long long>(used);
}

}  // namespace vemtu
