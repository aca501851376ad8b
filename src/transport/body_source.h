// The request body of one POST: a prefix, then the content of a file or a text, then a
// suffix, handed out chunk by chunk so that a file body is never held whole in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace vemtu {

// The one buffer a POST worker cuts its body chunks into and reads its reply through.
constexpr std::size_t kChunkBufferSize = 5120;
// The size of every body chunk and reply read of the WinINet connection.
constexpr std::size_t kWinInetChunkSize = 4096;

// A request body its caller holds open for the post: it is read through this handle from
// its start at every attempt, never opened again by name.
struct HeldBody {
  platform::File* file = nullptr;  // none: the body file is opened by its path
  // The body as it was checked: its size is the length sent, its count of names is checked
  // again, and only a file still of this identity is deleted after the acceptance.
  platform::FileIdentity identity;
  // The body's first bytes, read already (all of a small body): not read again.
  std::string_view head;
};

// The first bytes of `body` (all of a body of up to 64 KiB), read once for every reader of
// it; empty when they cannot be read (each reader then reads the file itself).
std::string ReadBodyHead(const HeldBody& body);

class BodySource {
 public:
  // `body_file` empty: the body is `body_text`. The views must outlive the source.
  BodySource(std::string body_file, std::string_view prefix, std::string_view body_text,
             std::string_view suffix)
      : body_file_(std::move(body_file)), prefix_(prefix), text_(body_text), suffix_(suffix) {}

  // Starts (or restarts) the body from its first byte: opens the body file unless it is
  // held, and works out the declared length (prefix + file or text + suffix). False with
  // the error code in `error` when the file cannot be opened or sized, or the body does not
  // fit the 32-bit length a request declares (ERROR_FILE_TOO_LARGE).
  bool Start(std::uint32_t& declared_length, std::uint32_t& error);

  // The body file is held open by the caller: `body.file` (which must outlive the source)
  // is read instead of the path, as large as `body.identity` says.
  void UseHeldBody(const HeldBody& body) {
    held_ = body.file;
    held_identity_ = body.identity;
    head_ = body.head;
  }

  // Fills `chunk` with up to `capacity` next bytes: prefix, then body, then suffix.
  // Returns the count (less than `capacity` only at the end of the body), or -1 with
  // the error code in `error` when the file cannot be read. The file never gives more
  // than the size it had at Start, so the bytes sent always match the declared length.
  long long Fill(char* chunk, std::size_t capacity, std::uint32_t& error);

  void Close() { opened_.Close(); }

 private:
  // The file is read in blocks of this size whatever the chunks are: far fewer reads.
  static constexpr std::size_t kReadAhead = 64 * 1024;

  // Copies up to `size` next bytes of the file (never beyond the size it had at Start)
  // through the read-ahead block; fewer only at its end. -1 when the file cannot be read.
  long long ReadFile(char* out, std::size_t size);

  std::string body_file_;
  std::string_view prefix_, text_, suffix_;
  platform::File* held_ = nullptr;  // the caller's handle (UseHeldBody)
  platform::FileIdentity held_identity_;
  std::string_view head_;                 // the held body's first bytes, read already
  platform::File opened_;                 // the body file opened here when none is held
  platform::File* file_ = nullptr;  // the one read: held_ or opened_
  std::uint64_t file_size_ = 0;
  std::size_t prefix_pos_ = 0, text_pos_ = 0, suffix_pos_ = 0;
  std::uint64_t file_pos_ = 0;
  bool file_done_ = false;
  std::vector<char> ahead_;        // room for a block read from the file
  std::string_view block_;         // the current block: of head_ or of ahead_
  std::size_t block_pos_ = 0;      // bytes of it handed out
  std::uint64_t read_pos_ = 0;     // bytes of the file taken into blocks so far
};

}  // namespace vemtu
