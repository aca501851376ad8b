// Private-profile (INI) files with the Windows rules, read and edited as plain bytes.
//
// A line is a section header when it starts (after blanks) with '[' and holds a ']':
// the name is what lies between them, without surrounding blanks. Any other line with
// an '=' is a key line: the key is the text before the first '=', the value the text
// after it, both without surrounding blanks. Lines starting with ';' are comments; keys
// before the first section belong to none. LF ends a line, a CR before it is dropped;
// a NUL byte ends the text of its line.
//
// Readers take a shared flock on the file and writers an exclusive one. A write reads,
// edits, writes the new text to a file beside it and renames that over the file, so
// that every reader sees the old text or the new one whole, even on a full disk.
//
// A file that starts with a UTF-16 byte-order mark is read as UTF-16 and written back
// so, as the system's profile functions do on Windows; its texts are UTF-8 here.
#include "platform/profile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "common/fixed_text.h"
#include "platform/component_utf16.h"
#include "platform/posix/no_follow.h"

namespace vemtu::platform {
namespace {

// Files above this size are not profiles: reads give the default, writes fail.
constexpr std::size_t kMaxProfileBytes = 32u << 20;
// How long a profile's lock is waited for: kLockTries pauses of kLockPauseUs.
constexpr int kLockTries = 500;
constexpr useconds_t kLockPauseUs = 10000;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// An open profile file, closed (and its flock dropped) by the destructor. A writer also
// holds the file's folder: the new content is written beside the file and renamed over
// it, so that the file holds either the old or the new text, never a part.
class LockedFile {
 public:
  LockedFile(const std::string& path, bool write) {
    if (!write) {
      // Never through a link, and never waiting on a FIFO: only a regular file is kept.
      fd_ = posix_detail::OpenRetrying(AT_FDCWD, path.c_str(),
                                       O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_RDONLY);
      if (fd_ < 0) return;
      if (!IsRegular()) {
        Close();
        return;
      }
      Lock(LOCK_SH);
      return;
    }
    // Never in a folder that is (or lies below) a link.
    posix_detail::SplitPath split = posix_detail::Split(path);
    folder_ = posix_detail::OpenFolderNoFollow(split.folder);
    name_ = split.name;
    if (folder_ < 0) return;
    // A writer that replaced the file while this one waited for its lock: the lock is
    // taken again on the file that now has the name.
    for (int tries = 0; tries < kReplacedTries; ++tries) {
      fd_ = posix_detail::OpenRetrying(folder_, name_.c_str(),
                                       O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_RDWR | O_CREAT);
      if (fd_ < 0) return;
      if (!IsRegular()) {
        Close();
        return;
      }
      // A root run hands a file it made (or one an earlier root run made) to the
      // agent folder's owner, whose own runs must go on writing it.
      posix_detail::HandToAgentOwner(fd_);
      fstat(fd_, &st_);
      Lock(LOCK_EX);
      struct stat now;
      if (fstatat(folder_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(now, st_))
        return;
      Close();
    }
  }
  ~LockedFile() {
    if (fd_ >= 0) ::close(fd_);
    if (folder_ >= 0) ::close(folder_);
  }
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  // The whole file; false when it cannot be read or is too large to be a profile.
  bool ReadAll(std::string& bytes) {
    bytes.clear();
    char chunk[65536];
    for (;;) {
      ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (n == 0) return true;
      if (bytes.size() + static_cast<std::size_t>(n) > kMaxProfileBytes) {
        errno = EFBIG;
        return false;
      }
      bytes.append(chunk, static_cast<std::size_t>(n));
      // A regular file reads short only at its end: no second read to find it.
      if (static_cast<std::size_t>(n) < sizeof chunk) return true;
    }
  }

  // Replaces the whole content with `bytes`: written whole to a new file beside it, with
  // the file's mode and owner, then renamed over it. On any failure (a full disk) the
  // file keeps its old content and the new one is removed.
  bool Rewrite(const std::string& bytes) {
    const std::string fresh = name_ + ".new";
    unlinkat(folder_, fresh.c_str(), 0);  // left by a run that died mid-write
    posix_detail::Descriptor out(posix_detail::OpenRetrying(
        folder_, fresh.c_str(), O_CLOEXEC | O_NOFOLLOW | O_WRONLY | O_CREAT | O_EXCL));
    if (out.get() < 0) return false;
    fchmod(out.get(), st_.st_mode & 07777);
    if (geteuid() == 0) (void)!fchown(out.get(), st_.st_uid, st_.st_gid);
    bool written =
        WriteAll(out.get(), bytes) && renameat(folder_, fresh.c_str(), folder_, name_.c_str()) == 0;
    if (!written) {
      int error = errno;
      unlinkat(folder_, fresh.c_str(), 0);
      errno = error;
    }
    return written;
  }

 private:
  static constexpr int kReplacedTries = 8;

  bool IsRegular() {
    if (fstat(fd_, &st_) == 0 && S_ISREG(st_.st_mode)) return true;
    errno = EACCES;
    return false;
  }

  // Our own holders keep the lock for one read or rewrite; a lock held longer than that
  // is someone else's, and the file is used without it rather than waited for.
  bool Lock(int kind) {
    for (int tries = 0; flock(fd_, kind | LOCK_NB) != 0; ++tries) {
      if ((errno != EWOULDBLOCK && errno != EINTR) || tries >= kLockTries) return false;
      usleep(kLockPauseUs);
    }
    return true;
  }

  static bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  void Close() {
    int error = errno;
    ::close(fd_);
    fd_ = -1;
    errno = error;
  }

  int fd_ = -1;
  int folder_ = -1;
  std::string name_;
  struct stat st_ {};
};

enum class LineKind { kOther, kSection, kKey };

// One line of the file, as offsets into its bytes.
struct Line {
  std::size_t begin = 0;     // first byte of the line
  std::size_t text_end = 0;  // end of the line's text (before CR LF, LF or a NUL)
  std::size_t next = 0;      // first byte of the following line
  LineKind kind = LineKind::kOther;
  std::string_view name;     // section name or key
  std::string_view value;    // key lines: the value, blanks dropped
};

// Reads the line starting at `begin` of `bytes`.
Line ReadLine(std::string_view bytes, std::size_t begin) {
  Line line;
  line.begin = begin;
  std::size_t lf = bytes.find('\n', begin);
  line.next = lf == std::string_view::npos ? bytes.size() : lf + 1;
  std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
  if (end > begin && lf != std::string_view::npos && bytes[end - 1] == '\r') --end;
  std::size_t nul = bytes.substr(begin, end - begin).find('\0');
  if (nul != std::string_view::npos) end = begin + nul;
  line.text_end = end;
  std::string_view text = Trim(bytes.substr(begin, end - begin));
  if (text.empty() || text.front() == ';') return line;
  if (text.front() == '[') {
    std::size_t close = text.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = LineKind::kSection;
      line.name = Trim(text.substr(1, close - 1));
      return line;
    }
  }
  std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return line;
  line.kind = LineKind::kKey;
  line.name = Trim(text.substr(0, equals));
  line.value = Trim(text.substr(equals + 1));
  return line;
}

// Where a key sits in a profile, or where it would go.
struct Lookup {
  bool section_found = false;
  bool key_found = false;
  Line key_line;                 // the key's line, when found
  std::size_t section_end = 0;   // after the section's last non-blank line, when found
};

Lookup Find(std::string_view bytes, std::string_view section, std::string_view key) {
  Lookup found;
  bool inside = false;
  // A UTF-8 byte-order mark before the first line is not part of it.
  std::size_t start = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  for (std::size_t at = start; at < bytes.size();) {
    Line line = ReadLine(bytes, at);
    at = line.next;
    if (line.kind == LineKind::kSection) {
      if (inside) break;  // the first section of that name is the only one looked at
      if (EqualsIgnoreCase(line.name, section)) {
        inside = found.section_found = true;
        found.section_end = line.next;
      }
      continue;
    }
    if (!inside) continue;
    if (!Trim(bytes.substr(line.begin, line.text_end - line.begin)).empty()) {
      found.section_end = line.next;
    }
    if (line.kind == LineKind::kKey && EqualsIgnoreCase(line.name, key)) {
      found.key_found = true;
      found.key_line = line;
      break;
    }
  }
  return found;
}

// The value with a pair of matching quotation marks around the whole of it dropped.
std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// How a profile's text is stored in its file.
enum class Storage {
  kBytes,    // 8-bit text, as the rules read it
  kUtf16Le,  // UTF-16 after the mark FF FE
  kUtf16Be,  // UTF-16 after the mark FE FF
};

// Turns a file's bytes into the 8-bit text the rules read, and says how they were
// stored. False when UTF-16 text does not convert (an unpaired surrogate).
bool DecodeProfile(std::string& bytes, Storage& storage) {
  storage = bytes.compare(0, 2, "\xFF\xFE") == 0   ? Storage::kUtf16Le
            : bytes.compare(0, 2, "\xFE\xFF") == 0 ? Storage::kUtf16Be
                                                   : Storage::kBytes;
  if (storage == Storage::kBytes) return true;
  const int high = storage == Storage::kUtf16Be ? 0 : 1;
  std::u16string wide;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i + high]) << 8 |
                                         static_cast<unsigned char>(bytes[i + 1 - high])));
  }
  return Utf16ToUtf8(wide, bytes);
}

// The text back in the file's own storage.
bool EncodeProfile(Storage storage, std::string& text) {
  if (storage == Storage::kBytes) return true;
  std::u16string wide;
  if (!Utf8ToUtf16(text, wide)) return false;
  const bool big_endian = storage == Storage::kUtf16Be;
  text.assign(big_endian ? "\xFE\xFF" : "\xFF\xFE");
  for (char16_t unit : wide) {
    char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    text += big_endian ? high : low;
    text += big_endian ? low : high;
  }
  return true;
}

// Reads `file` into `text`; false when it is missing or unreadable.
bool LoadProfile(const std::string& file, std::string& text) {
  LockedFile in(file, false);
  Storage storage;
  return in.IsOpen() && in.ReadAll(text) && DecodeProfile(text, storage);
}

}  // namespace

std::string GetProfileText(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& default_value,
                           std::size_t max_chars) {
  int saved = errno;
  std::string bytes;
  std::string result = default_value;
  if (LoadProfile(file, bytes)) {
    Lookup found = Find(bytes, section, key);
    if (found.key_found) result = std::string(Unquote(found.key_line.value));
  }
  errno = saved;
  return std::string(CutText(result, max_chars));
}

int GetProfileInt(const std::string& file, const std::string& section,
                  const std::string& key, int default_value) {
  std::string text = GetProfileText(file, section, key, std::string(), 64);
  if (text.empty()) return default_value;
  return static_cast<int>(LeadingNumber(text));
}

namespace {

// The text `bytes` with `key` of `section` set to `written`.
std::string Edited(const std::string& bytes, const std::string& section, const std::string& key,
                   std::string_view written) {
  std::string edited;
  Lookup found = Find(bytes, section, key);
  if (found.key_found) {
    // Replace the key's line text, keeping the key's own spelling and the line end.
    const Line& line = found.key_line;
    std::size_t key_begin = line.name.data() - bytes.data();
    edited.reserve(bytes.size() + written.size());
    edited.append(bytes, 0, key_begin);
    edited.append(line.name);
    edited += '=';
    edited.append(written);
    edited.append(bytes, line.text_end, std::string::npos);
  } else {
    std::string addition;
    std::size_t at = found.section_found ? found.section_end : bytes.size();
    if (at > 0 && bytes[at - 1] != '\n') addition += "\r\n";
    if (!found.section_found) {
      addition += '[';
      addition += section;
      addition += "]\r\n";
    }
    addition += key;
    addition += '=';
    addition.append(written);
    addition += "\r\n";
    edited.reserve(bytes.size() + addition.size());
    edited.append(bytes, 0, at);
    edited += addition;
    edited.append(bytes, at, std::string::npos);
  }
  return edited;
}

}  // namespace

bool WriteProfileText(const std::string& file, const std::string& section,
                      const std::string& key, const std::string& value) {
  // A line break inside the value would start a new line of the file: the value ends
  // there (and at a NUL, where the C text it stands for ends).
  std::string_view written = value;
  std::size_t stop = written.find_first_of(std::string_view("\r\n\0", 3));
  if (stop != std::string_view::npos) written = written.substr(0, stop);

  // The key already holds the value (a counter set back to "0" after every post): the
  // file stays as it is. Seen by a reader first, which holds no folder and makes nothing.
  std::string bytes;
  if (LoadProfile(file, bytes) && Edited(bytes, section, key, written) == bytes) return true;

  LockedFile io(file, true);
  Storage storage;
  if (!io.IsOpen() || !io.ReadAll(bytes) || !DecodeProfile(bytes, storage)) return false;
  std::string edited = Edited(bytes, section, key, written);
  if (edited == bytes) return true;
  return EncodeProfile(storage, edited) && io.Rewrite(edited);
}

}  // namespace vemtu::platform
