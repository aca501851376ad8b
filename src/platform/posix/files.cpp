// Files and folders on POSIX. Windows' "attributes to normal" becomes "make it writable
// for its owner"; sharing modes have no counterpart and are not needed here.
#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace vemtu::platform {

bool SetAttributesNormal(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  if (st.st_mode & S_IWUSR) return true;
  return chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool CreateFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool MoveReplace(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
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
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// --- File ---

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

File File::Open(const std::string& path, OpenMode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kReadExisting: flags |= O_RDONLY; break;
    case OpenMode::kReadWriteExisting: flags |= O_RDWR; break;
    case OpenMode::kReadWriteAlways: flags |= O_RDWR | O_CREAT; break;
    case OpenMode::kWriteTruncate:
    case OpenMode::kWriteTruncateUnshared: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return File();
  // Opening a folder for writing fails in the kernel (EISDIR); only a read-only open
  // needs the check.
  struct stat st;
  if (mode == OpenMode::kReadExisting && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    // A folder is not a file that can be opened (Windows refuses it as well).
    ::close(fd);
    errno = EISDIR;
    return File();
  }
  return File(fd);
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

void File::Close() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
}

}  // namespace vemtu::platform
