#include "posting/transfer_log_copy.h"

#include <vector>

#include "log/log_writer.h"
#include "platform/files.h"

namespace vemtu {

void CopyDataToTransferLog(const std::string& file_path, const std::string& transfer_log_path) {
  constexpr std::size_t kBufferSize = 5120;
  constexpr std::size_t kReadSize = 4096;
  std::vector<char> buffer(kBufferSize);
  platform::File source = platform::File::Open(file_path, platform::OpenMode::kReadExisting);
  if (!source.IsOpen()) return;
  WriteLogEntry(transfer_log_path, kEventProgress, 0, "MSG: Web Post Data");
  platform::File log =
      platform::File::Open(transfer_log_path, platform::OpenMode::kReadWriteExisting);
  if (!log.IsOpen() || !log.SeekToEnd()) return;
  while (true) {
    long long got = source.Read(buffer.data(), kReadSize);
    if (got < 0) return;
    if (got > 0 && !log.Write(buffer.data(), static_cast<std::size_t>(got))) return;
    if (got < static_cast<long long>(kReadSize)) {
      log.Write("\r\n", 2);
      return;
    }
  }
}

}  // namespace vemtu
