// Files and folders on POSIX. Windows' "attributes to normal" becomes "make it writable
// for its owner"; sharing modes have no counterpart and are not needed here.
//
// Each path given here is resolved afresh, refusing a link at every level of it; the
// steps themselves are those of an unrooted agent folder (agent_folder.cpp).
#include "platform/files.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/agent_folder.h"
#include "platform/posix/no_follow.h"

namespace vemtu::platform {

namespace {

// A path alone: resolved afresh, refusing a link at every level.
const AgentFolder& Alone() { return FolderOrUnrooted(nullptr); }

}  // namespace

bool SetAttributesNormal(const std::string& path) { return Alone().SetAttributesNormal(path); }

bool CreateFolder(const std::string& path) { return Alone().CreateFolder(path); }

MoveOutcome MoveNoReplace(const std::string& from, const std::string& to) {
  return Alone().MoveNoReplace(from, to);
}

bool DeleteFileAt(const std::string& path) { return Alone().DeleteFileAt(path); }

bool IsFolder(const std::string& path) {
  posix_detail::Descriptor fd(posix_detail::OpenFolderNoFollow(path));
  return fd.get() >= 0;
}

FileIdentity IdentityAt(const std::string& path) { return Alone().IdentityAt(path); }

bool DeleteIfUnchanged(const std::string& path, const FileIdentity& expected) {
  return Alone().DeleteIfUnchanged(path, expected);
}

// --- File ---

File::~File() { Close(); }

File::File(File&& other) noexcept
    : handle_(other.handle_), at_open_(other.at_open_),
      writers_held_(other.writers_held_) {
  other.handle_ = -1;
  other.writers_held_ = false;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    at_open_ = other.at_open_;
    writers_held_ = other.writers_held_;
    other.handle_ = -1;
    other.writers_held_ = false;
  }
  return *this;
}

File File::Open(const std::string& path, OpenMode mode) { return Alone().Open(path, mode); }

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

long long File::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const {
  if (handle_ < 0 || offset > static_cast<std::uint64_t>(INT64_MAX)) {
    errno = handle_ < 0 ? EBADF : EINVAL;
    return -1;
  }
  for (;;) {
    ssize_t n = ::pread(static_cast<int>(handle_), buffer, size, static_cast<off_t>(offset));
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

File File::Duplicate() const {
  if (handle_ < 0) {
    errno = EBADF;
    return File();
  }
  int fd = fcntl(static_cast<int>(handle_), F_DUPFD_CLOEXEC, 0);
  return fd < 0 ? File() : File(fd, at_open_);
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

bool File::Reserve(std::uint64_t size) {
  if (handle_ < 0 || size > static_cast<std::uint64_t>(INT64_MAX)) {
    errno = EBADF;
    return false;
  }
  if (size == 0) return true;
  const int error = posix_fallocate(static_cast<int>(handle_), 0, static_cast<off_t>(size));
  errno = error;
  return error == 0;
}

bool File::Truncate(std::uint64_t size) {
  if (handle_ < 0 || size > static_cast<std::uint64_t>(INT64_MAX)) {
    errno = EBADF;
    return false;
  }
  return ftruncate(static_cast<int>(handle_), static_cast<off_t>(size)) == 0;
}

bool File::KeepFromOthers() {
  struct stat st;
  if (handle_ < 0 || fstat(static_cast<int>(handle_), &st) != 0) return false;
  const mode_t mode = (st.st_mode & S_IWGRP) ? 0660 : 0600;
  return fchmod(static_cast<int>(handle_), mode) == 0;
}

long long File::Size() const {
  struct stat st;
  if (handle_ < 0 || fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

FileIdentity File::Identity() const {
  struct stat st;
  if (handle_ < 0 || fstat(static_cast<int>(handle_), &st) != 0) return {};
  return posix_detail::IdentityOf(st);
}

namespace {

// The kernel asks a lease holder for its lease back with SIGIO, whose default ends the
// process. The lease is kept until the post ends (or the kernel's lease-break time runs
// out and it takes the lease itself), so the signal is only kept from ending the run.
bool KeepLeaseSignalHarmless() {
  struct sigaction now {};
  if (sigaction(SIGIO, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGIO, &ignore, nullptr);
  }
  return true;
}

}  // namespace

File::WriterHold File::HoldOffWriters() {
  static const bool signal_ready = KeepLeaseSignalHarmless();
  (void)signal_ready;
  if (handle_ < 0) {
    errno = EBADF;
    return WriterHold::kUnavailable;
  }
  if (fcntl(static_cast<int>(handle_), F_SETLEASE, F_RDLCK) == 0) {
    writers_held_ = true;
    return WriterHold::kHeld;
  }
  // EAGAIN: the file is open for writing somewhere. Anything else (a file of another
  // owner without the lease right, a file system without leases): no hold here.
  return errno == EAGAIN ? WriterHold::kHeldByWriter : WriterHold::kUnavailable;
}

bool File::WriterWaiting() const {
  // While the kernel asks for a read lease back, it reports the type it must go down to.
  return writers_held_ && fcntl(static_cast<int>(handle_), F_GETLEASE) == F_UNLCK;
}

void File::EndWriterHold() {
  // The lease belongs to the open file, which a duplicate shares: ended from either.
  if (handle_ >= 0) fcntl(static_cast<int>(handle_), F_SETLEASE, F_UNLCK);
  writers_held_ = false;
}

long long File::MsSinceChange() const {
  const FileIdentity now = Identity();
  struct timespec clock;
  if (!now.valid || clock_gettime(CLOCK_REALTIME, &clock) != 0) return -1;
  const std::int64_t last = std::max(now.modified, now.changed);
  const std::int64_t at = static_cast<std::int64_t>(clock.tv_sec) * 1000000000 + clock.tv_nsec;
  return at > last ? (at - last) / 1000000 : 0;
}

void File::Close() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));  // ends a lease with it
    handle_ = -1;
  }
  writers_held_ = false;
}

}  // namespace vemtu::platform
