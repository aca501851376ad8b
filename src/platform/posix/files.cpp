// Files and folders on POSIX. Windows' "attributes to normal" becomes "make it writable
// for its owner"; sharing modes have no counterpart and are not needed here.
//
// No call here follows a link in the last component of a path (lstat, O_NOFOLLOW), and
// a file written or moved in is reached through its folder opened without following a
// link, so a folder replaced by a link is refused too.
#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/posix/no_follow.h"

namespace vemtu::platform {

using posix_detail::Descriptor;
using posix_detail::OpenRetrying;
using posix_detail::Split;
using posix_detail::SplitPath;

namespace {

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  if (!S_ISREG(st.st_mode)) return id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::uint64_t>(st.st_size);
  id.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.valid = true;
  return id;
}

bool Writes(OpenMode mode) {
  return mode != OpenMode::kReadExisting && mode != OpenMode::kReadWriteExisting;
}

}  // namespace

bool SetAttributesNormal(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    errno = ELOOP;
    return false;
  }
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    errno = ENOENT;  // a FIFO or device is not a file of ours
    return false;
  }
  if (st.st_mode & S_IWUSR) return true;
  // Changed through a handle on the very object lstat saw, so that a link put in its
  // place meanwhile is not followed.
  Descriptor fd(OpenRetrying(AT_FDCWD, path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat now;
  if (fd.get() < 0 || fstat(fd.get(), &now) != 0 || now.st_ino != st.st_ino ||
      now.st_dev != st.st_dev || S_ISLNK(now.st_mode)) {
    return false;
  }
  std::string via = "/proc/self/fd/" + std::to_string(fd.get());
  return chmod(via.c_str(), (now.st_mode & 07777) | S_IWUSR) == 0;
}

bool CreateFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

MoveOutcome MoveNoReplace(const std::string& from, const std::string& to) {
  SplitPath target = Split(to);
  Descriptor folder(posix_detail::OpenFolderNoFollow(target.folder));
  if (folder.get() < 0) return MoveOutcome::kFailed;
  if (renameat2(AT_FDCWD, from.c_str(), folder.get(), target.name.c_str(), RENAME_NOREPLACE) ==
      0) {
    return MoveOutcome::kMoved;
  }
  if (errno == EEXIST) return MoveOutcome::kExists;
  if (errno != EINVAL && errno != ENOSYS) return MoveOutcome::kFailed;
  // A file system without the no-replace rename: a second name, then the old one goes.
  // linkat never follows a link given as the source.
  if (linkat(AT_FDCWD, from.c_str(), folder.get(), target.name.c_str(), 0) != 0) {
    return errno == EEXIST ? MoveOutcome::kExists : MoveOutcome::kFailed;
  }
  if (unlink(from.c_str()) != 0) {
    int error = errno;
    unlinkat(folder.get(), target.name.c_str(), 0);
    errno = error;
    return MoveOutcome::kFailed;
  }
  return MoveOutcome::kMoved;
}

bool DeleteFileAt(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EISDIR;  // deleting a file never removes a folder
    return false;
  }
  return unlink(path.c_str()) == 0;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

FileIdentity IdentityAt(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return {};
  return IdentityOf(st);
}

bool DeleteIfUnchanged(const std::string& path, const FileIdentity& expected) {
  if (!(IdentityAt(path) == expected)) {
    errno = ESTALE;
    return false;
  }
  return unlink(path.c_str()) == 0;
}

// --- File ---

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_), size_at_open_(other.size_at_open_) {
  other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    size_at_open_ = other.size_at_open_;
    other.handle_ = -1;
  }
  return *this;
}

File File::Open(const std::string& path, OpenMode mode) {
  // O_NONBLOCK: a FIFO or device must not hold the open up; it is refused below.
  int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  switch (mode) {
    case OpenMode::kReadExisting: flags |= O_RDONLY; break;
    case OpenMode::kReadWriteExisting: flags |= O_RDWR; break;
    case OpenMode::kReadWriteAlways: flags |= O_RDWR | O_CREAT; break;
    case OpenMode::kWriteTruncate:
    case OpenMode::kWriteTruncateUnshared: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case OpenMode::kAppendAlways: flags |= O_WRONLY | O_APPEND | O_CREAT; break;
  }
  Descriptor fd(Writes(mode) ? posix_detail::OpenInPlainFolder(path, flags)
                            : OpenRetrying(AT_FDCWD, path.c_str(), flags));
  if (fd.get() < 0) return File();
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return File();
  if (!S_ISREG(st.st_mode)) {
    // A folder, FIFO, socket or device: as if no file were there (a folder as Windows
    // refuses it).
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENOENT;
    return File();
  }
  // O_NONBLOCK stays: it changes nothing for a regular file.
  return File(fd.release(), static_cast<long long>(st.st_size));
}

bool File::IsOpen() const { return handle_ >= 0; }

long long File::Read(void* buffer, std::size_t size) {
  if (handle_ < 0) {
    errno = EBADF;
    return -1;
  }
  for (;;) {
    ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

bool File::Write(const void* buffer, std::size_t size) {
  if (handle_ < 0) {
    errno = EBADF;
    return false;
  }
  const char* data = static_cast<const char*>(buffer);
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(handle_), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool File::SeekToEnd() {
  return handle_ >= 0 && lseek(static_cast<int>(handle_), 0, SEEK_END) >= 0;
}

bool File::SeekTo(std::uint64_t offset) {
  if (handle_ < 0 || offset > static_cast<std::uint64_t>(INT64_MAX)) {
    errno = EINVAL;
    return false;
  }
  return lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

long long File::Size() const {
  struct stat st;
  if (handle_ < 0 || fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

FileIdentity File::Identity() const {
  struct stat st;
  if (handle_ < 0 || fstat(static_cast<int>(handle_), &st) != 0) return {};
  return IdentityOf(st);
}

void File::Close() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
}

}  // namespace vemtu::platform
