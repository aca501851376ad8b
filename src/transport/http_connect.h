// CZHTTPConnect: one HTTP POST exchange over WinINet. Session open on the calling
// thread; connect, request open and the POST itself each on a worker thread of their
// own, waited for with the connection's time-out (where the library bounds the POST
// itself, see kStepTimeoutOption, all on the calling thread).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/body_source.h"
#include "common/fixed_text.h"
#include "transport/worker_step.h"

namespace vemtu {

class CZHTTPConnect {
 public:
  static constexpr std::uint32_t kDefaultAccessType = 3;  // INTERNET_OPEN_TYPE_PROXY

  // `timeout_ms`: the longest wait for one worker (tests shorten it).
  explicit CZHTTPConnect(unsigned long timeout_ms = kWorkerTimeoutMs);
  virtual ~CZHTTPConnect();
  CZHTTPConnect(const CZHTTPConnect&) = delete;
  CZHTTPConnect& operator=(const CZHTTPConnect&) = delete;

  // Closes the request, connection and session handles and restores every field to its
  // default.
  void ZReset();
  // Resets, then opens the session. Empty agent name or proxy keep the stored ones.
  int ZInternetOpen(const char* agent_name, std::uint32_t access_type, const char* proxy);
  // Connects to the server on a worker. The scheme word picks the request flags later.
  int ZInternetConnect(const char* server_name, std::uint16_t port, const char* scheme);
  // Opens the request on a worker: HTTP/1.0, no cache; for any scheme but "HTTP" a
  // secure request that accepts unknown authorities, wrong names and expired dates
  // (unless CheckCertificates(true) was called: then the library's checks all apply).
  // CR, LF, space and control bytes of the object name are percent-encoded.
  int ZHTTPOpenRequest(const char* object_name, const char* verb);
  // Sets the non-empty proxy user name and password on the open request.
  int ZSetProxyUserPassword(const char* user_name, const char* password);
  // Sends prefix + (file or text) + suffix and reads the reply, on a worker. Every
  // pointer may be absent. The reply (also that of an HTTP error status) is handed out
  // in `reply_text`/`reply_length` when it has at least one byte; without a reply file
  // it is collected in memory. Succeeds only when no error was recorded. With
  // `held_body`, the body file is read through the caller's open handle instead of being
  // opened by its path.
  int ZHTTPWebPost(const char* body_file_path, const char* reply_file_path, const char* body_text,
                   int body_length, const char* prefix, const char* suffix,
                   std::string* reply_text, int* reply_length,
                   const HeldBody* held_body = nullptr);
  // 0, a system or WinINet error code, or an HTTP status of 300 or more.
  std::uint32_t ZGetLastError() const;

  unsigned long timeout_ms() const { return timeout_ms_; }
  // Makes secure requests check the server's certificate fully; ZReset keeps the choice.
  void CheckCertificates(bool check) { check_certificates_ = check; }

  struct Handles;  // the session, connection and request handles and the last error

 private:
  bool RunStep(std::function<void()> step);
  void RecordLastError(std::uint32_t code);

  FixedText<360> agent_name_;
  FixedText<360> proxy_;
  FixedText<360> proxy_user_name_;
  FixedText<360> proxy_password_;
  FixedText<360> server_name_;
  FixedText<360> scheme_;
  std::uint16_t port_ = 0;
  std::uint32_t access_type_ = kDefaultAccessType;
  unsigned long timeout_ms_;
  bool check_certificates_ = false;
  // Shared with the worker that runs on them: a worker left behind after a time-out
  // keeps them (and closes them) when it ends.
  std::shared_ptr<Handles> handles_;
};

}  // namespace vemtu
