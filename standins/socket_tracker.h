// The sockets that one curl handle has open, so that closing a request can cut them off
// from any thread and wake a transfer that is blocked on the network.
#pragma once

#include <cstddef>
#include <mutex>
#include <set>
#include <string>

namespace vemtu::inet {

class SocketTracker {
 public:
  SocketTracker() = default;
  SocketTracker(const SocketTracker&) = delete;
  SocketTracker& operator=(const SocketTracker&) = delete;

  // Creates a socket for curl; -1 once ShutdownAll has been called.
  int Open(int family, int type, int protocol);
  // Closes a socket that Open created. Bytes the peer sent and nobody read are kept
  // first (see TakeUnread).
  void Close(int fd);
  // The bytes left unread on the last socket opened since Reset and closed with any, and
  // forgets them (pooled connections of earlier sends are not looked at). A peer that
  // answers before reading the whole request and closes makes the kernel reset the
  // connection; a send then fails before curl has read the answer, which is still
  // waiting on the socket.
  std::string TakeUnread();
  // A reply's head has come: what a socket still holds when it closes is no early
  // answer, and is not read (until Reset).
  void ReplyArrived();
  // Shuts down every open socket (reads and writes fail at once) and refuses new ones.
  void ShutdownAll();
  // Accepts new sockets again (a new send on the same request); the sockets open now
  // count as earlier ones, and unread bytes are forgotten.
  void Reset();

 private:
  std::mutex mutex_;
  std::set<int> open_;
  std::set<int> fresh_;  // opened since the last Reset
  bool shut_ = false;
  bool reply_arrived_ = false;
  std::string unread_;
};

}  // namespace vemtu::inet
