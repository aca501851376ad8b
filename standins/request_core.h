// What both libraries' request handles share: one curl handle with the multi handle that
// runs it (and keeps its connections between sends), taken from the library's pool and
// given back when the request closes; the exchange of the current send; and
// cancellation by closing the handle from any thread.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <mutex>

#include "curl_handles.h"
#include "exchange.h"
#include "failure.h"
#include "socket_tracker.h"

namespace vemtu::inet {

// Time limits in milliseconds; 0 means no limit.
struct Timeouts {
  std::uint32_t connect_ms = 60000;
  std::uint32_t send_ms = 30000;
  std::uint32_t receive_ms = 30000;
  std::uint32_t response_ms = 90000;  // waiting for the reply's head
};

// Chooses the proxy of `settings` for a target on `host`: `access` 1 means none, 3 the
// named `list` (unless `bypass` names the host), anything else the environment. The
// access numbers are the same in both libraries.
void ChooseProxy(ExchangeSettings& settings, std::uint32_t access, const std::string& list,
                 const std::string& bypass, const std::string& host, bool secure);

// Sets the URL and the request target of `settings` (proxy mode already chosen) for
// `object` on `origin` ("http://host:port"). The object goes on the request line byte
// for byte, except in the absolute form a plain proxy needs, where curl builds the line
// from the URL.
void SetTarget(ExchangeSettings& settings, const std::string& origin, const std::string& object,
               bool secure);

// The "Host" header line for `host` (a name or an address, IPv6 without brackets) and
// `port`: the port is left out when it is the scheme's default.
std::string HostLine(const std::string& host, unsigned port, bool secure);

// True when a request of `method` with a body of `length` bytes carries a Content-Length
// (all but a GET without a body and a HEAD).
bool BodyAnnounced(const std::string& method, std::uint64_t length);

// Calls curl_global_init once per process.
void InitCurlOnce();

class RequestCore {
 public:
  // `pool` lives as long as the process.
  explicit RequestCore(HandlePool& pool);
  ~RequestCore();
  RequestCore(const RequestCore&) = delete;
  RequestCore& operator=(const RequestCore&) = delete;

  bool usable() const { return handles_ && handles_->usable(); }

  // Ends the previous send, starts a new one of `settings.body_length` bytes and waits
  // until it is connected; the `initial` bytes go out first (with the head when they are
  // the whole body).
  Failure Send(ExchangeSettings settings, const char* initial = nullptr,
               std::size_t initial_size = 0);
  // Bounds every send from now on to end `timeout_ms` from now (0: no bound); a wait
  // that reaches the bound ends the send with kTimeout.
  void SetStepTimeout(std::uint32_t timeout_ms);
  // The steps of the current send (kNotSent before the first).
  Failure Write(const char* data, std::size_t size, std::uint32_t timeout_ms);
  Failure Receive(std::uint32_t timeout_ms);
  Failure Available(std::size_t* count, std::uint32_t timeout_ms);
  Failure Read(char* out, std::size_t size, std::size_t* got, std::uint32_t timeout_ms);
  // The current reply's status and head; 0 and empty before one arrived.
  long Status() const;
  std::string Head() const;
  // Closing the handle: ends the current send and refuses new ones. Any thread.
  void Cancel();

 private:
  HandlePool& pool_;
  std::unique_ptr<CurlHandles> handles_;
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  std::shared_ptr<Exchange> exchange_;
  std::chrono::steady_clock::time_point step_deadline_ = kNoDeadline;  // set by SetStepTimeout
  std::uint64_t declared_ = 0;  // body bytes the current send announced
  std::uint64_t written_ = 0;   // and handed over so far
  std::shared_ptr<Exchange> Current() const;
};

}  // namespace vemtu::inet
