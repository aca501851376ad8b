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

bool BodySource::Start(std::uint32_t& declared_length, std::uint32_t& error) {
  prefix_pos_ = text_pos_ = suffix_pos_ = 0;
  file_pos_ = 0;
  file_done_ = false;
  ahead_pos_ = ahead_len_ = 0;
  read_pos_ = 0;
  std::uint64_t body = text_.size();
  if (!body_file_.empty()) {
    if (!file_given_) {
      file_.Close();
      file_ = platform::File::Open(body_file_, platform::OpenMode::kReadExisting);
    }
    if (!file_.IsOpen()) {
      error = static_cast<std::uint32_t>(platform::LastError());
      return false;
    }
    if (!file_given_ && file_.IdentityAtOpen().links > 1 && !platform::SecondNamesHarmless()) {
      // A body with a second name may be a file from outside the agent folder.
      error = kErrorAccessDenied;
      if (!file_given_) file_.Close();
      return false;
    }
    long long size = file_.SizeAtOpen();
    if (size < 0) {
      error = static_cast<std::uint32_t>(platform::LastError());
      if (!file_given_) file_.Close();
      return false;
    }
    file_size_ = static_cast<std::uint64_t>(size);
    body = file_size_;
  }
  std::uint64_t total = prefix_.size() + body + suffix_.size();
  if (total > 0xFFFFFFFFull) {
    error = kErrorFileTooLarge;
    if (!file_given_) file_.Close();
    return false;
  }
  declared_length = static_cast<std::uint32_t>(total);
  return true;
}

long long BodySource::ReadFile(char* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    if (ahead_pos_ == ahead_len_) {
      std::uint64_t left = file_size_ - read_pos_;
      if (left == 0) break;
      if (ahead_.empty()) ahead_.resize(kReadAhead);
      long long got = file_.ReadAt(
          ahead_.data(), static_cast<std::size_t>(std::min<std::uint64_t>(kReadAhead, left)),
          read_pos_);
      if (got < 0) return -1;
      if (got == 0) break;
      ahead_pos_ = 0;
      ahead_len_ = static_cast<std::size_t>(got);
      read_pos_ += static_cast<std::uint64_t>(got);
      // A file held for its post has been read whole: a writer need wait no longer.
      if (file_given_ && read_pos_ == file_size_) file_.EndWriterHold();
    }
    std::size_t part = std::min(size - done, ahead_len_ - ahead_pos_);
    std::memcpy(out + done, ahead_.data() + ahead_pos_, part);
    ahead_pos_ += part;
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
