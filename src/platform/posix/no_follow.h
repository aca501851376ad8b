// Opening paths of the agent folder without following a link: the shared pieces of the
// file and profile backends.
#pragma once

#include <string>

namespace vemtu::platform::posix_detail {

// An open descriptor, closed by the destructor.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor();
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

// Opens `folder` as a handle for the *at calls, failing when it or any folder along its
// path is a link (only the last level where the kernel cannot check the others).
int OpenFolderNoFollow(const std::string& folder);

// Opens `path` with `flags` (O_NOFOLLOW added), refusing a link at any level of the path
// as OpenFolderNoFollow does: a file is never made or written in a folder that was
// replaced by a link.
int OpenInPlainFolder(const std::string& path, int flags);

}  // namespace vemtu::platform::posix_detail
