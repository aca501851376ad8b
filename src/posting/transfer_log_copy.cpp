#include "posting/transfer_log_copy.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "log/log_writer.h"
#include "platform/files.h"

namespace vemtu {

namespace {

// What one post writes to its transfer log after the copy: the send lines, the replies
// (each cut well below this) and the outcome lines of a whole cascade.
constexpr long long kRoomForRestOfPost = 64 * 1024;

}  // namespace

std::string CutMarker(long long whole_size) {
  return "\\[cut: " + std::to_string(whole_size) + " bytes]";
}

void CopyDataToTransferLog(const HeldBody& source, const std::string& transfer_log_path) {
  constexpr std::size_t kBufferSize = 5120;
  constexpr std::size_t kReadSize = 4096;
  std::vector<char> buffer(kBufferSize);
  // The copy ends at the size the file had when checked, however it grows meanwhile.
  if (!source.file || !source.identity.valid) return;
  const auto size = static_cast<long long>(source.identity.size);
  WriteLogEntry(transfer_log_path, kEventProgress, 0, "MSG: Web Post Data");
  WithLogLock(transfer_log_path, [&] {
    platform::File log =
        platform::File::Open(transfer_log_path, platform::OpenMode::kAppendAlways);
    if (!log.IsOpen()) return false;
    // The copy ends where the log, with the lines its post still writes, stays below the
    // size at which a line starts the log afresh: a larger file is cut there, and a
    // marker gives its whole size.
    const long long room = std::max(0LL, kLogSizeLimit - kRoomForRestOfPost - log.Size());
    const bool cut = size > room;
    auto left = static_cast<unsigned long long>(cut ? room : size);
    std::uint64_t offset = 0;
    while (true) {
      std::size_t want = left < kReadSize ? static_cast<std::size_t>(left) : kReadSize;
      long long got = 0;
      if (offset + want <= source.head.size()) {
        std::memcpy(buffer.data(), source.head.data() + offset, want);
        got = static_cast<long long>(want);
      } else if (want > 0) {
        got = source.file->ReadAt(buffer.data(), want, offset);
      }
      if (got < 0) return false;
      auto bytes = static_cast<std::size_t>(got);
      if (bytes < kReadSize) {
        // The last block and the line end go in one write.
        std::string end = cut ? CutMarker(size) : std::string();
        end += "\r\n";
        std::memcpy(buffer.data() + bytes, end.data(), end.size());
        return log.Write(buffer.data(), bytes + end.size());
      }
      if (!log.Write(buffer.data(), bytes)) return false;
      left -= bytes;
      offset += bytes;
    }
  });
}

}  // namespace vemtu
