#include "platform/posix/no_follow.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vemtu::platform::posix_detail {

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

int OpenRetrying(int dir, const char* name, int flags) {
  int fd;
  do {
    fd = ::openat(dir, name, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

SplitPath Split(const std::string& path) {
  std::size_t cut = path.rfind('/');
  if (cut == std::string::npos) return {".", path};
  return {cut == 0 ? "/" : path.substr(0, cut), path.substr(cut + 1)};
}

namespace {

// openat2 of `path` refusing a link at any level; -1 with errno ENOSYS or EPERM where the
// kernel (or a filter) has no such call.
int OpenWithoutLinks(const std::string& path, int flags) {
  open_how how{};
  how.flags = static_cast<__u64>(flags);
  how.mode = (flags & O_CREAT) ? 0666 : 0;
  how.resolve = RESOLVE_NO_SYMLINKS;
  int fd;
  do {
    fd = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how));
  } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
  return fd;
}

bool NoOpenat2(int fd) { return fd < 0 && (errno == ENOSYS || errno == EPERM); }

}  // namespace

int OpenFolderNoFollow(const std::string& folder) {
  // The agent's paths come from its own resolved program path, so a link anywhere along
  // one was put there by someone else: refused at every level, not just the last one.
  int fd = OpenWithoutLinks(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (!NoOpenat2(fd)) return fd;
  // A kernel without openat2 (or a filter that forbids it): the last level at least.
  return OpenRetrying(AT_FDCWD, folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int OpenInPlainFolder(const std::string& path, int flags) {
  // One call resolves the whole path, the file's own name included.
  int fd = OpenWithoutLinks(path, flags | O_NOFOLLOW);
  if (!NoOpenat2(fd)) return fd;
  SplitPath split = Split(path);
  Descriptor folder(OpenFolderNoFollow(split.folder));
  if (folder.get() < 0) return -1;
  return OpenRetrying(folder.get(), split.name.c_str(), flags | O_NOFOLLOW);
}

}  // namespace vemtu::platform::posix_detail
