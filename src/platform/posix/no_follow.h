// Opening paths of the agent folder without following a link: the shared pieces of the
// file, folder and profile backends.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/files.h"

namespace vemtu::platform::posix_detail {

// An open descriptor, closed by the destructor.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor();
  Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// openat, retried when a signal interrupts it; new files get mode 0666.
int OpenRetrying(int dir, const char* name, int flags);

// The folder part of a path ("." when it has none) and its last component.
struct SplitPath {
  std::string folder;
  std::string name;
};
SplitPath Split(const std::string& path);

// Opens `path` relative to the folder `base` (AT_FDCWD: as given) with `flags`, refusing a
// link at any level of it, the last included; below a folder handle, a path that would
// leave it ("..") is refused too. New files get mode 0666.
int OpenBeneath(int base, const std::string& path, int flags);

// Opens `folder` as a handle for the *at calls, failing when it or any folder along its
// path is a link.
int OpenFolderNoFollow(const std::string& folder);

// Opens `path` with `flags`, refusing a link at any level of the path as
// OpenFolderNoFollow does: a file is never made or written in a folder that was replaced
// by a link.
int OpenInPlainFolder(const std::string& path, int flags);

// In a run as root, gives what the run made (the open `fd`, or `name` in the folder
// `folder`) to the owner of the agent folder, so that the owner's own runs can go on
// using it. Only objects still owned by root are handed over, and only a folder or a
// file with no other name (a second name may be an outside file linked in).
void HandToAgentOwner(int fd);
void HandToAgentOwner(int folder, const std::string& name);

// True for a folder, or a regular file whose only name is the one it was reached by:
// its owner, mode or attributes may be changed through that name.
bool OnlyName(const struct stat& st);

// The identity of the file `st` describes (not valid for anything but a regular file).
FileIdentity IdentityOf(const struct stat& st);

}  // namespace vemtu::platform::posix_detail
