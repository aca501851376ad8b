#include "socket_tracker.h"

#include <sys/socket.h>
#include <unistd.h>

namespace vemtu::inet {

int SocketTracker::Open(int family, int type, int protocol) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (shut_) return -1;
  int fd = socket(family, type | SOCK_CLOEXEC, protocol);
  if (fd >= 0) {
    open_.insert(fd);
    fresh_.insert(fd);
  }
  return fd;
}

namespace {

// At most this much of an unread answer is kept: a refusal's head and a short page.
constexpr std::size_t kUnreadLimit = 64 * 1024;

std::string DrainWithoutWaiting(int fd) {
  std::string bytes;
  char buffer[4096];
  while (bytes.size() < kUnreadLimit) {
    ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

}  // namespace

void SocketTracker::Close(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(fd);
  if (fresh_.erase(fd) > 0 && !reply_arrived_) {
    std::string unread = DrainWithoutWaiting(fd);
    if (!unread.empty()) unread_ = std::move(unread);
  }
  close(fd);
}

std::string SocketTracker::TakeUnread() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  out.swap(unread_);
  return out;
}

void SocketTracker::ShutdownAll() {
  std::lock_guard<std::mutex> lock(mutex_);
  shut_ = true;
  for (int fd : open_) shutdown(fd, SHUT_RDWR);
}

void SocketTracker::ReplyArrived() {
  std::lock_guard<std::mutex> lock(mutex_);
  reply_arrived_ = true;
}

void SocketTracker::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  shut_ = false;
  reply_arrived_ = false;
  fresh_.clear();
  unread_.clear();
}

}  // namespace vemtu::inet
