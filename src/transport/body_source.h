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

class BodySource {
 public:
  // `body_file` empty: the body is `body_text`. The views must outlive the source.
  BodySource(std::string body_file, std::string_view prefix, std::string_view body_text,
             std::string_view suffix)
      : body_file_(std::move(body_file)), prefix_(prefix), text_(body_text), suffix_(suffix) {}

  // Starts (or restarts) the body from its first byte: reopens the body file and works
  // out the declared length (prefix + file or text + suffix). False with the error code
  // in `error` when the file cannot be opened or sized, or the body does not fit the
  // 32-bit length a request declares (ERROR_FILE_TOO_LARGE).
  bool Start(std::uint32_t& declared_length, std::uint32_t& error);

  // The body file is open already (the result file held for its post): this handle is
  // read from its start at every Start instead of the file being opened again by name.
  void UseOpenFile(platform::File file) {
    file_ = std::move(file);
    file_given_ = file_.IsOpen();
  }

  // Fills `chunk` with up to `capacity` next bytes: prefix, then body, then suffix.
  // Returns the count (less than `capacity` only at the end of the body), or -1 with
  // the error code in `error` when the file cannot be read. The file never gives more
  // than the size it had at Start, so the bytes sent always match the declared length.
  long long Fill(char* chunk, std::size_t capacity, std::uint32_t& error);

  void Close() { file_.Close(); }

 private:
  // The file is read in blocks of this size whatever the chunks are: far fewer reads.
  static constexpr std::size_t kReadAhead = 64 * 1024;

  // Copies up to `size` next bytes of the file (never beyond the size it had at Start)
  // through the read-ahead block; fewer only at its end. -1 when the file cannot be read.
  long long ReadFile(char* out, std::size_t size);

  std::string body_file_;
  std::string_view prefix_, text_, suffix_;
  platform::File file_;
  bool file_given_ = false;  // file_ came from UseOpenFile and is never reopened
  std::uint64_t file_size_ = 0;
  std::size_t prefix_pos_ = 0, text_pos_ = 0, suffix_pos_ = 0;
  std::uint64_t file_pos_ = 0;
  bool file_done_ = false;
  std::vector<char> ahead_;        // the block read last
  std::size_t ahead_pos_ = 0, ahead_len_ = 0;  // handed out / read into it
  std::uint64_t read_pos_ = 0;     // bytes of the file read so far
};

}  // namespace vemtu
