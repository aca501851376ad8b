// Reading a reply to its end, into the reply file or the reply buffer: the loop both
// connections share, with the library's own "wait for data" and "read" calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/errors.h"
#include "platform/files.h"
#include "transport/body_source.h"
#include "transport/reply_buffer.h"

namespace vemtu {

// `wait_for_data()` and `read(chunk, size, got)` return false on failure (with the
// platform's last error set). A failure is recorded in `last_error` unless an error is
// recorded there already. A reply read to its end stays in the reply file, even the page
// of an HTTP error status; a reply file left open by a failure (or by `abandoned`, which
// stops the loop early) is deleted when an error is recorded. Returns true when the
// reply was read whole.
template <typename WaitForData, typename Read>
bool ReadReply(const std::string& reply_file_path, ReplyBuffer& buffer, char* chunk,
               std::size_t chunk_size, std::atomic<std::uint32_t>& last_error,
               const std::atomic<bool>& abandoned, WaitForData wait_for_data, Read read) {
  auto record_first = [&last_error] {
    std::uint32_t none = 0;
    last_error.compare_exchange_strong(none, static_cast<std::uint32_t>(platform::LastError()));
  };
  platform::File reply_file;
  if (!reply_file_path.empty()) {
    platform::SetAttributesNormal(reply_file_path);
    reply_file = platform::File::Open(reply_file_path, platform::OpenMode::kReadWriteAlways);
    if (!reply_file.IsOpen()) {
      record_first();
      return false;
    }
  }
  bool whole = false;
  while (!abandoned.load()) {
    if (!wait_for_data()) {
      record_first();
      break;
    }
    std::memset(chunk, 0, kChunkBufferSize);
    std::uint32_t got = 0;
    if (!read(chunk, chunk_size, got)) {
      record_first();
      break;
    }
    if (got == 0) {
      reply_file.Close();
      whole = true;
      break;
    }
    if (reply_file.IsOpen()) {
      if (!reply_file.Write(chunk, got)) {
        record_first();
        break;
      }
    } else {
      buffer.AppendReplyBytes(chunk, got);
    }
  }
  if (reply_file.IsOpen()) {
    reply_file.Close();
    if (last_error.load() != 0) {
      platform::SetAttributesNormal(reply_file_path);
      platform::DeleteFileAt(reply_file_path);
    }
  }
  return whole;
}

}  // namespace vemtu
