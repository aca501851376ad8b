// The sockets that one curl handle has open, so that closing a request can cut them off
// from any thread and wake a transfer that is blocked on the network.
#pragma once

#include <mutex>
#include <set>

namespace vemtu::inet {

class SocketTracker {
 public:
  SocketTracker() = default;
  SocketTracker(const SocketTracker&) = delete;
  SocketTracker& operator=(const SocketTracker&) = delete;

  // Creates a socket for curl; -1 once ShutdownAll has been called.
  int Open(int family, int type, int protocol);
  // Closes a socket that Open created.
  void Close(int fd);
  // Shuts down every open socket (reads and writes fail at once) and refuses new ones.
  void ShutdownAll();
  // Accepts new sockets again (a new send on the same request).
  void Reset();

 private:
  std::mutex mutex_;
  std::set<int> open_;
  bool shut_ = false;
};

}  // namespace vemtu::inet
