// The locked appender: one named lock per log file, held for the open-check-write-close
// of a single text.
#include "log/log_writer.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"

namespace vemtu {

std::string LogLockName(std::string_view path) {
  // Both separators are replaced on either platform: on Linux the separator is '/',
  // and a lock name must not read as a path. Only characters are replaced, never the
  // second byte of a two-byte character: two logs would otherwise share a lock.
  std::string name(path);
  for (char separator : {'\\', '/', ':'}) {
    for (std::size_t at = 0;;) {
      const std::size_t found = platform::FindCharacter(std::string_view(name).substr(at),
                                                        separator, platform::Occurrence::kFirst);
      if (found == std::string_view::npos) break;
      at += found;
      name[at++] = '-';
    }
  }
  return name;
}

namespace {

// Opens the log in append mode (others may read, created when missing): every write
// lands at the end as one piece, whoever else appends.
platform::File OpenLog(const std::string& path) {
  return platform::File::Open(path, platform::OpenMode::kAppendAlways);
}

// Opens the log; only when that is refused are its attributes reset (a read-only file)
// or its folder made (a missing one), and the open tried once more.
platform::File OpenLogResetting(const std::string& path) {
  platform::File file = OpenLog(path);
  if (file.IsOpen()) return file;
  if (!platform::SetAttributesNormal(path)) {
    std::size_t cut =
        platform::FindCharacter(path, platform::kPathSeparator, platform::Occurrence::kLast);
    if (cut != std::string::npos && cut > 0) CreateDirectoryPath(path.substr(0, cut));
  }
  return OpenLog(path);
}

// Renames the log to "<path>.1", replacing an older one; where that cannot be done the
// log is deleted, so that it never grows past its limit.
void KeepAsEarlierGeneration(const std::string& path) {
  const std::string earlier = path + ".1";
  platform::SetAttributesNormal(earlier);
  platform::DeleteFileAt(earlier);
  if (platform::MoveNoReplace(path, earlier) != platform::MoveOutcome::kMoved)
    platform::DeleteFileAt(path);
}

// The append itself, with the lock held: false when the text could not be put.
bool AppendLocked(const std::string& path, std::string_view text) {
  platform::File file = OpenLogResetting(path);
  if (!file.IsOpen()) return false;
  if (file.SizeAtOpen() > kLogSizeLimit) {
    // Too large: the text starts a new file, and the old one is kept as the one earlier
    // generation.
    file.Close();
    platform::SetAttributesNormal(path);
    KeepAsEarlierGeneration(path);
    file = OpenLog(path);
    if (!file.IsOpen()) return false;
  }
  // A full disk refuses the write: the caller learns that the line was not put.
  return file.Write(text.data(), text.size());
}

}  // namespace

bool WithLogLock(const std::string& path, const std::function<bool()>& work) {
  if (path.empty()) return false;
  platform::NamedMutex lock = platform::NamedMutex::Create(LogLockName(path));
  // Without any lock store the run ends at once: the line that says why is written
  // unlocked rather than lost.
  if (!lock.IsValid() && !platform::NamedMutexStoreRefused()) return false;

  if (lock.IsValid() && lock.Wait(kLogLockWaitMs) != WaitResult::kAcquired) {
    // Timed out, abandoned by a holder that died, or failed: the work is not done.
    lock.Release();
    lock.Close();
    return false;
  }
  bool done = false;
  try {
    done = work();
  } catch (...) {
    done = false;  // files are closed by their destructors
  }
  lock.Release();
  lock.Close();
  return done;
}

bool AppendLogText(const std::string& path, std::string_view text) {
  return WithLogLock(path, [&] { return AppendLocked(path, text); });
}

}  // namespace vemtu
