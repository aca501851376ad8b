// The six send procedures: one attempt each to POST one file to the data centre, over
// WinHTTP or WinINet, directly, through the configured proxy or through the system's
// default proxy. Each writes its progress and errors to the current transfer log
// (ctx.transfer_log_path) and returns 1 only when the reply text is exactly "1"; the
// posted file has then been deleted. SendDefaultProxyPOST also moves a refused file to
// its next retry name, or into the Error folder after the fifth.
#pragma once

#include <cstdint>
#include <string>

#include "common/run_context.h"
#include "transport/body_source.h"
#include "transport/worker_step.h"

namespace vemtu {

class CZWinHTTPConnect;

// Arguments common to all six: `host`, `request_path` (object name and query),
// `scheme` ("HTTP" or "HTTPS"), `file_path` (the body), `prefix` and `suffix` (texts
// sent before and after the file, or nullptr), `port`, and `body`: the file at
// `file_path` held open by the caller (none: the file is opened by its path). The
// WinHTTP procedures drive the process-wide `winhttp` connection and reset it afterwards;
// the WinINet procedures make a connection of their own whose worker time-out is
// `timeout_ms`.

int SendWinHTTPPOST(const RunContext& ctx, CZWinHTTPConnect& winhttp, const std::string& host,
                    const std::string& request_path, const std::string& scheme,
                    const std::string& file_path, const char* prefix, const char* suffix,
                    int port, const HeldBody* body = nullptr);

// `request_proxy_flag` 1: the proxy (address:port) is also set on the request itself.
int SendProxyWinHTTPPOST(const RunContext& ctx, CZWinHTTPConnect& winhttp,
                         const std::string& host, const std::string& request_path,
                         const std::string& scheme, const std::string& file_path,
                         const char* prefix, const char* suffix, int port,
                         int request_proxy_flag, const HeldBody* body = nullptr);

int SendDefaultProxyWinHTTPPOST(const RunContext& ctx, CZWinHTTPConnect& winhttp,
                                const std::string& host, const std::string& request_path,
                                const std::string& scheme, const std::string& file_path,
                                const char* prefix, const char* suffix, int port,
                                const HeldBody* body = nullptr);

int SendPOST(const RunContext& ctx, const std::string& host, const std::string& request_path,
             const std::string& scheme, const std::string& file_path, const char* prefix,
             const char* suffix, int port, unsigned long timeout_ms = kWorkerTimeoutMs,
             const HeldBody* body = nullptr);

int SendProxyPOST(const RunContext& ctx, const std::string& host,
                  const std::string& request_path, const std::string& scheme,
                  const std::string& file_path, const char* prefix, const char* suffix,
                  int port, unsigned long timeout_ms = kWorkerTimeoutMs,
                  const HeldBody* body = nullptr);

// `retry_rename` false leaves a refused file under its name (a packed copy, which the
// caller deletes after the post).
int SendDefaultProxyPOST(const RunContext& ctx, const std::string& host,
                         const std::string& request_path, const std::string& scheme,
                         const std::string& file_path, const char* prefix, const char* suffix,
                         int port, unsigned long timeout_ms = kWorkerTimeoutMs,
                         bool retry_rename = true, const HeldBody* body = nullptr);

// What a probe of one send procedure found.
struct ProbeOutcome {
  std::string step;         // the step that failed, or the exchange when all steps ran
  std::uint32_t error = 0;  // that step's error number (an HTTP status of 300 or more too)
  bool replied = false;     // the server (or a proxy) answered with an HTTP status
  std::string reply;        // the reply text, when one came
};

// Runs the steps of the send procedure `procedure_name` ("SendPOST", ...) as a post
// would, with `request_proxy` as method 4 sets it, up to one exchange with the server:
// but the request is `verb` without a body, no file is read, moved or deleted and no log
// entry is written. Name resolution, connection, proxy authentication and TLS are tried
// with the library's own rules. `winhttp` may be null for the WinINet procedures.
ProbeOutcome ProbeSendProcedure(const std::string& procedure_name, bool request_proxy,
                                const RunContext& ctx, CZWinHTTPConnect* winhttp,
                                const std::string& host, const std::string& path,
                                const std::string& scheme, int port, const char* verb,
                                unsigned long timeout_ms);

}  // namespace vemtu
