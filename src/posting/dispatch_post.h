// Sending one prepared file: the seven send methods in cascade order, starting with the
// one that last worked (LastPostMethod), and the watchdog counter reset after a success.
#pragma once

#include <array>
#include <functional>
#include <set>
#include <string>

#include "common/run_context.h"
#include "platform/files.h"
#include "transport/body_source.h"

namespace vemtu {

class CZWinHTTPConnect;

// What every send method is given for one attempt.
struct SendTarget {
  const char* host;
  const char* request_path;
  const char* scheme;     // upper case: "HTTP", "HTTPS", ...
  const char* file_path;  // the body: the found file, or its packed copy
  int port;
  bool retry_rename = true;  // false for a packed copy: the last method leaves it in place
  const HeldBody* body = nullptr;  // the body held open by the caller; none: opened by path
};

struct PostingSession;

// One row of the cascade.
struct SendMethod {
  int number;                                                       // 1 to 7, the cascade order
  const char* name;                                                 // the send procedure it calls
  std::function<int(PostingSession&, const SendTarget&)> function;  // 1: accepted
  bool needs_winhttp;  // skipped when WinHTTP could not be bound
};

constexpr std::size_t kSendMethodCount = 7;
using SendMethodTable = std::array<SendMethod, kSendMethodCount>;

// The seven methods over the transport's send procedures:
// 1 SendWinHTTPPOST, 2 SendProxyWinHTTPPOST (no request proxy),
// 3 SendDefaultProxyWinHTTPPOST, 4 SendProxyWinHTTPPOST (request proxy),
// 5 SendPOST, 6 SendProxyPOST, 7 SendDefaultProxyPOST.
SendMethodTable StandardSendMethods();

// What lives for the whole run of posting: the run, the process-wide WinHTTP
// connection, the remembered method and the methods themselves.
struct PostingSession {
  PostingSession(RunContext& run, CZWinHTTPConnect* connection, SendMethodTable table)
      : ctx(run), winhttp(connection), methods(std::move(table)) {}

  RunContext& ctx;
  CZWinHTTPConnect* winhttp;  // may be null when WinHTTP is not available
  SendMethodTable methods;
  int last_post_method = 0;               // LastPostMethod: 0 none known, else 1 to 7
  unsigned long failure_pause_ms = 1000;  // pause after a file no method posted
  std::set<std::string> noted;            // notices already logged in this run
  std::set<std::string> not_again;        // accepted but kept: not posted again this run
};

// Tries the methods in order as the cascade rules say, writing one outcome entry per
// attempted method to the current transfer log. In pack mode the source file
// (`report_path`) is deleted after the success; when given `source`, the source held open
// for its post, only if it is still the file it was when opened (a file changed since it
// was packed stays for the next run) and no writer waits to change it. True when a method
// succeeded.
bool DispatchPost(PostingSession& session, const SendTarget& target, const std::string& report_path,
                  bool pack_mode, platform::File* source = nullptr);

}  // namespace vemtu
