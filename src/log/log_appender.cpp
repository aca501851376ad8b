// The locked appender: one named lock per log file, held for the open-check-write-close
// of a single text.
#include "log/log_writer.h"
#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"

namespace vemtu {

std::string LogLockName(std::string_view path) {
  // Both separators are replaced on either platform: on Linux the separator is '/',
  // and a lock name must not read as a path.
  std::string name(path);
  for (char& c : name) {
    if (c == '\\' || c == '/' || c == ':') c = '-';
  }
  return name;
}

namespace {

// Opens the log for appending (read and write, others may read, created when missing).
platform::File OpenLog(const std::string& path) {
  return platform::File::Open(path, platform::OpenMode::kReadWriteAlways);
}

// Steps 4 to 8 of an append, with the lock held: false when the text could not be put.
bool AppendLocked(const std::string& path, std::string_view text) {
  if (!platform::SetAttributesNormal(path)) {
    // The file is missing: make sure its folder exists. Someone may have made the file
    // meanwhile, so its attributes are reset once more; a file that was there already
    // had them reset a moment ago and needs nothing more.
    std::size_t cut = path.rfind(platform::kPathSeparator);
    if (cut != std::string::npos && cut > 0) CreateDirectoryPath(path.substr(0, cut));
    platform::SetAttributesNormal(path);
  }
  platform::File file = OpenLog(path);
  if (!file.IsOpen()) return false;

  long long size = file.Size();
  if (size > kLogSizeLimit) {
    // Too large: nothing of the old content survives; the text starts a new file.
    file.Close();
    platform::SetAttributesNormal(path);
    platform::DeleteFileAt(path);
    file = OpenLog(path);
    if (!file.IsOpen()) return false;
    size = 0;
  }
  if (size != 0) file.SeekToEnd();
  file.Write(text.data(), text.size());  // a partial write is not detected
  file.Close();
  return true;
}

}  // namespace

bool AppendLogText(const std::string& path, std::string_view text) {
  if (path.empty()) return false;
  platform::NamedMutex lock = platform::NamedMutex::Create(LogLockName(path));
  if (!lock.IsValid()) return false;

  if (lock.Wait(kLogLockWaitMs) != WaitResult::kAcquired) {
    // Timed out, abandoned by a holder that died, or failed: the text is lost.
    lock.Release();
    lock.Close();
    return false;
  }
  bool written = false;
  try {
    written = AppendLocked(path, text);
  } catch (...) {
    written = false;  // the file is closed by its destructor
  }
  lock.Release();
  lock.Close();
  return written;
}

}  // namespace vemtu
