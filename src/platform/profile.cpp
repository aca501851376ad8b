#include "platform/profile.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "common/fixed_text.h"
#include "platform/agent_folder.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/profile_text.h"

namespace vemtu::platform {
namespace {

namespace text = profile_text;

// Files above this size are not profiles: reads give the default, writes fail.
constexpr std::size_t kMaxProfileBytes = 32u << 20;

// Releases a held lock when the access ends, keeping the access's own error number.
class LockHold {
 public:
  explicit LockHold(NamedMutex& lock) : lock_(lock) {}
  ~LockHold() {
    const int error = LastError();
    lock_.Release();
    SetLastError(error);
  }
  LockHold(const LockHold&) = delete;
  LockHold& operator=(const LockHold&) = delete;

 private:
  NamedMutex& lock_;
};

// The whole file from its start; false when it cannot be read or is too large to be a
// profile.
bool ReadAll(File& file, std::string& bytes) {
  bytes.clear();
  char chunk[65536];
  for (;;) {
    long long n = file.Read(chunk, sizeof chunk);
    if (n < 0) return false;
    if (n == 0) return true;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxProfileBytes) return false;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
}

// The file's bytes replaced by `bytes` in place: the room is reserved first, so a full
// disk fails the write before anything changed; then the text goes over the old one and
// the file is cut to its length.
bool Overwrite(File& file, const std::string& bytes) {
  return file.Reserve(bytes.size()) && file.SeekTo(0) && file.Write(bytes.data(), bytes.size()) &&
         file.Truncate(bytes.size());
}

}  // namespace

// The lock of an INI file is named from its path, letter case folded as Windows folds
// it, hashed so that any path gives a short name of the same form on both builds.
std::string ProfileLockName(const std::string& file) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : file) {
    const char folded = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    hash = (hash ^ static_cast<unsigned char>(folded)) * 1099511628211ull;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string name = "VemtuProfile_";
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 0xF];
  return name;
}

ProfileFiles::ProfileFiles() = default;

ProfileFiles::ProfileFiles(std::shared_ptr<AgentFolder> folder) : folder_(std::move(folder)) {}

void ProfileFiles::ReportGivenUpWaits(std::function<void(const std::string&, int)> report) {
  report_ = std::move(report);
}

bool ProfileFiles::WaitForLock(const std::string& file, NamedMutex& lock) {
  lock = NamedMutex::Create(ProfileLockName(file));
  WaitResult waited = WaitResult::kFailed;
  if (lock.IsValid()) {
    const unsigned long left = kProfileLockBudgetMs - std::min(waited_ms_, kProfileLockBudgetMs);
    const auto start = std::chrono::steady_clock::now();
    waited = lock.Wait(std::min(left, kProfileLockWaitMs));
    waited_ms_ += static_cast<unsigned long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - start)
                                                 .count());
  }
  // A holder that died left the lock to us; whatever it wrote was one write call.
  if (waited == WaitResult::kAcquired || waited == WaitResult::kAbandoned) return true;
  const int error = waited == WaitResult::kTimedOut ? 0 : LastError();
  if (report_ && !reported_) {
    reported_ = true;
    report_(file, error);
  }
  SetLastError(error);
  return false;
}

std::string ProfileFiles::GetText(const std::string& file, const std::string& section,
                                  const std::string& key, const std::string& default_value,
                                  std::size_t max_chars) {
  const int saved = LastError();
  std::string result = default_value;
  NamedMutex lock;
  if (WaitForLock(file, lock)) {
    LockHold hold(lock);
    File in = FolderOrUnrooted(folder_).Open(file, OpenMode::kReadExisting);
    std::string bytes;
    text::Storage storage;
    if (in.IsOpen() && ReadAll(in, bytes)) {
      if (auto value = text::FindValue(text::Decode(bytes, storage), section, key)) {
        result = std::move(*value);
      }
    }
  }
  SetLastError(saved);
  return std::string(CutText(result, max_chars));
}

int ProfileFiles::GetInt(const std::string& file, const std::string& section,
                         const std::string& key, int default_value) {
  std::string value = GetText(file, section, key, std::string(), 64);
  if (value.empty()) return default_value;
  return static_cast<int>(LeadingNumber(value));
}

bool ProfileFiles::WriteText(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& value) {
  NamedMutex lock;
  if (!WaitForLock(file, lock)) return false;
  LockHold hold(lock);
  const AgentFolder& folder = FolderOrUnrooted(folder_);
  const std::string_view stored = text::StoredValue(value);
  std::string bytes;
  text::Storage storage;

  File io = folder.Open(file, OpenMode::kReadWriteExisting);
  if (!io.IsOpen()) {
    const int error = LastError();
    if (!NoSuchFile(error)) {
      // A file this run may only read still takes a write that changes nothing (a
      // counter set back to "0" after every post).
      File in = folder.Open(file, OpenMode::kReadExisting);
      bool unchanged = in.IsOpen() && ReadAll(in, bytes);
      if (unchanged) {
        std::string decoded = text::Decode(bytes, storage);
        unchanged = text::Edited(decoded, section, key, stored) == decoded;
      }
      SetLastError(error);
      return unchanged;
    }
    io = folder.Open(file, OpenMode::kReadWriteAlways);
    if (!io.IsOpen() || !io.KeepFromOthers()) return false;
  }
  if (!ReadAll(io, bytes)) return false;
  const std::string decoded = text::Decode(bytes, storage);
  const std::string edited = text::Edited(decoded, section, key, stored);
  if (edited == decoded) return true;
  // A UTF-16 file whose text the system code page cannot carry whole is never written:
  // the rest of its text would come back changed.
  if (text::Encode(storage, decoded) != bytes) return false;
  std::optional<std::string> encoded = text::Encode(storage, edited);
  return encoded && Overwrite(io, *encoded);
}

std::string GetProfileText(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& default_value,
                           std::size_t max_chars) {
  return ProfileFiles().GetText(file, section, key, default_value, max_chars);
}

int GetProfileInt(const std::string& file, const std::string& section, const std::string& key,
                  int default_value) {
  return ProfileFiles().GetInt(file, section, key, default_value);
}

bool WriteProfileText(const std::string& file, const std::string& section,
                      const std::string& key, const std::string& value) {
  return ProfileFiles().WriteText(file, section, key, value);
}

}  // namespace vemtu::platform
