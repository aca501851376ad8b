#include "platform/posix/no_follow.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/paths.h"

namespace vemtu::platform::posix_detail {

Descriptor::~Descriptor() {
  if (fd_ >= 0) ::close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
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

// openat2 refusing a link at any level (and, below a handle, a way out of it); -1 with
// errno ENOSYS or EPERM where the kernel (or a filter) has no such call.
int OpenWithoutLinks(int base, const std::string& path, int flags) {
  open_how how{};
  how.flags = static_cast<__u64>(flags);
  how.mode = (flags & O_CREAT) ? 0666 : 0;
  how.resolve = RESOLVE_NO_SYMLINKS | (base == AT_FDCWD ? 0 : RESOLVE_BENEATH);
  int fd;
  do {
    fd = static_cast<int>(::syscall(SYS_openat2, base, path.c_str(), &how, sizeof how));
  } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
  return fd;
}

bool NoOpenat2(int fd) { return fd < 0 && (errno == ENOSYS || errno == EPERM); }

// A kernel without openat2: one level at a time, none of them a link.
int OpenByLevels(int base, const std::string& path, int flags) {
  std::size_t at = 0;
  Descriptor folder(-1);
  int current = base;
  if (!path.empty() && path[0] == '/') {
    if (base != AT_FDCWD) {
      errno = EXDEV;
      return -1;
    }
    folder = Descriptor(OpenRetrying(AT_FDCWD, "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    current = folder.get();
    at = 1;
  }
  for (;;) {
    std::size_t cut = path.find('/', at);
    std::string part = path.substr(at, cut == std::string::npos ? std::string::npos : cut - at);
    if (part == ".." && base != AT_FDCWD) {
      errno = EXDEV;
      return -1;
    }
    if (cut == std::string::npos) return OpenRetrying(current, part.c_str(), flags | O_NOFOLLOW);
    at = cut + 1;
    if (part.empty() || part == ".") continue;
    Descriptor next(OpenRetrying(current, part.c_str(),
                                 O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) return -1;
    folder = std::move(next);
    current = folder.get();
  }
}

}  // namespace

int OpenBeneath(int base, const std::string& path, int flags) {
  // The agent's paths come from its own resolved program path, so a link anywhere along
  // one was put there by someone else: refused at every level, not just the last one.
  int fd = OpenWithoutLinks(base, path, flags | O_NOFOLLOW | O_CLOEXEC);
  if (NoOpenat2(fd)) fd = OpenByLevels(base, path, flags | O_CLOEXEC);
  return fd;
}

int OpenFolderNoFollow(const std::string& folder) {
  return OpenBeneath(AT_FDCWD, folder, O_PATH | O_DIRECTORY);
}

int OpenInPlainFolder(const std::string& path, int flags) {
  return OpenBeneath(AT_FDCWD, path, flags);
}

namespace {

// Whom a root run hands what it makes to: the owner of the agent folder (the program's
// folder). Read once: neither the run's user nor that owner changes during a run.
struct AgentOwner {
  bool hand_over = false;  // a root run in a folder of another user
  uid_t owner = 0;
  gid_t group = 0;
};

AgentOwner ReadAgentOwner() {
  AgentOwner result;
  if (geteuid() != 0) return result;
  SplitPath exe = Split(ExecutablePath());
  struct stat st;
  if (exe.name.empty() || lstat(exe.folder.c_str(), &st) != 0 || st.st_uid == 0) return result;
  result = {true, st.st_uid, st.st_gid};
  return result;
}

const AgentOwner& TheAgentOwner() {
  static const AgentOwner owner = ReadAgentOwner();
  return owner;
}

}  // namespace

void HandToAgentOwner(int fd) {
  const AgentOwner& to = TheAgentOwner();
  struct stat st;
  if (!to.hand_over || fstat(fd, &st) != 0 || st.st_uid != 0 || !OnlyName(st)) return;
  int saved = errno;
  // AT_EMPTY_PATH: the very object held, even through an O_PATH handle.
  (void)!fchownat(fd, "", to.owner, to.group, AT_EMPTY_PATH);
  errno = saved;
}

void HandToAgentOwner(int folder, const std::string& name) {
  Descriptor fd(OpenRetrying(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() >= 0) HandToAgentOwner(fd.get());
}

bool OnlyName(const struct stat& st) {
  return S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_nlink == 1);
}

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  if (!S_ISREG(st.st_mode)) return id;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.index = static_cast<std::uint64_t>(st.st_ino);
  id.size = static_cast<std::uint64_t>(st.st_size);
  id.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.links = static_cast<std::uint32_t>(st.st_nlink);
  id.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  id.valid = true;
  return id;
}

}  // namespace vemtu::platform::posix_detail
