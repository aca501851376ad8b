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

int OpenFolderNoFollow(const std::string& folder) {
  // The agent's paths come from its own resolved program path, so a link anywhere along
  // one was put there by someone else: refused at every level, not just the last one.
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  int fd;
  do {
    fd = static_cast<int>(::syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how));
  } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
  if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
  // A kernel without openat2 (or a filter that forbids it): the last level at least.
  return OpenRetrying(AT_FDCWD, folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

int OpenInPlainFolder(const std::string& path, int flags) {
  SplitPath split = Split(path);
  Descriptor folder(OpenFolderNoFollow(split.folder));
  if (folder.get() < 0) return -1;
  return OpenRetrying(folder.get(), split.name.c_str(), flags | O_NOFOLLOW);
}

}  // namespace vemtu::platform::posix_detail
