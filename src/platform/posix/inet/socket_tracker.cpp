#include "socket_tracker.h"

#include <sys/socket.h>
#include <unistd.h>

namespace vemtu::inet {

int SocketTracker::Open(int family, int type, int protocol) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shut_) return -1;
  int fd = socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd >= 0) open_.insert(fd);
  return fd;
}

void SocketTracker::Close(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(fd);
  close(fd);
}

void SocketTracker::ShutdownAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  shut_ = true;
  for (int fd : open_) shutdown(fd, SHUT_RDWR);
}

void SocketTracker::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  shut_ = false;
}

}  // namespace vemtu::inet
