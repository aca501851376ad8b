// The curl handles a request sends with, and the pool that keeps them, with their
// kept-alive connections, between requests.
//
// WinINet keeps kept-alive connections for the whole process, across sessions: a request
// that closes gives its handles back to the process's pool, and the next request to the
// same server finds the connection in them (curl checks that the server has not closed it
// before it reuses it, and opens a new one when it has). WinHTTP keeps connections per
// session, and each attempt of the agent has a session of its own: its sends have curl
// close each connection as the transfer ends, so only the allocations are saved.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "socket_tracker.h"

namespace vemtu::inet {

struct CurlHandles {
  CurlHandles();
  ~CurlHandles();
  CurlHandles(const CurlHandles&) = delete;
  CurlHandles& operator=(const CurlHandles&) = delete;

  bool usable() const { return easy != nullptr && multi != nullptr; }

  SocketTracker sockets;  // outlives the curl handles, which close through it
  CURL* easy = nullptr;
  CURLM* multi = nullptr;  // runs the transfers and keeps their connections
  // The certificate checks (SECURITY_FLAG_IGNORE_* bits) every connection and TLS
  // session kept in these handles was made with. curl cannot tell connections made with
  // other checks apart, so handles only ever serve sends with the same checks.
  std::uint32_t security_ignore = 0;
};

class HandlePool {
 public:
  // Handles kept idle at most; more are freed with their connections.
  static constexpr std::size_t kIdleLimit = 4;

  HandlePool() = default;
  HandlePool(const HandlePool&) = delete;
  HandlePool& operator=(const HandlePool&) = delete;

  // Idle handles for sends with the certificate checks `security_ignore` (the most
  // recently returned), or new ones.
  std::unique_ptr<CurlHandles> Take(std::uint32_t security_ignore);
  // Handles of a request that closed; none of its transfers may be running.
  void Give(std::unique_ptr<CurlHandles> handles);

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<CurlHandles>> idle_;
};

}  // namespace vemtu::inet
