#include "transport/send_procedures.h"

#include <cstdint>
#include <memory>

#include "log/log_writer.h"
#include "platform/agent_folder.h"
#include "platform/files.h"
#include "transport/accepted_file.h"
#include "platform/paths.h"
#include "transport/http_connect.h"
#include "transport/request_text.h"
#include "transport/retry_name.h"
#include "transport/wide_text.h"
#include "transport/winhttp_connect.h"

namespace vemtu {

namespace {

constexpr const char kAgentName[] = "Microsoft Internet Explorer";

// ---------------------------------------------------------------------------
// What the six procedures differ in
// ---------------------------------------------------------------------------

enum class Transport {
  kWinHttp,  // the process-wide WinHTTP connection
  kWinInet,  // a new WinINet connection per attempt
};

struct Procedure {
  const char* name;
  Transport transport;
  bool configured_proxy;       // use the configured proxy address when there is one
  std::uint32_t access_type;   // without a configured proxy address
  bool proxy_credentials;      // set the proxy user name and password
  bool retry_rename;           // move a refused file to its next retry name
};

constexpr std::uint32_t kNamedProxy = 3;  // WinHTTP NAMED_PROXY and WinINet PROXY alike

constexpr Procedure kSendWinHTTPPOST{"SendWinHTTPPOST", Transport::kWinHttp, false, 1, false, false};
constexpr Procedure kSendProxyWinHTTPPOST{"SendProxyWinHTTPPOST", Transport::kWinHttp, true, 0, true, false};
constexpr Procedure kSendDefaultProxyWinHTTPPOST{"SendDefaultProxyWinHTTPPOST", Transport::kWinHttp, false, 0, true, false};
constexpr Procedure kSendPOST{"SendPOST", Transport::kWinInet, false, 1, false, false};
constexpr Procedure kSendProxyPOST{"SendProxyPOST", Transport::kWinInet, true, 0, true, false};
constexpr Procedure kSendDefaultProxyPOST{"SendDefaultProxyPOST", Transport::kWinInet, false, 0, true, true};

struct Request {
  const std::string& host;
  const std::string& request_path;
  const std::string& scheme;
  const std::string& file_path;
  const char* prefix;
  const char* suffix;
  int port;
  bool retry_rename = true;  // false: a refused file stays under its name
  const HeldBody* body = nullptr;  // the file at file_path, held open by the caller
};

// ---------------------------------------------------------------------------
// One connection seen through the steps of an attempt
// ---------------------------------------------------------------------------

class Connection {
 public:
  virtual ~Connection() = default;
  virtual const char* library() const = 0;  // "WinInet" or "WinHTTP", for the log labels
  virtual const char* connect_label() const = 0;
  virtual int Open(std::uint32_t access_type, const std::string& proxy) = 0;
  virtual int Connect(const std::string& host, std::uint16_t port, const std::string& scheme) = 0;
  virtual int OpenRequest(const std::string& path, const char* verb) = 0;
  virtual int SetProxyCredentials(const std::string& user, const std::string& password) = 0;
  virtual int WebPost(const Request& request, bool request_proxy, std::string& reply) = 0;
  // One exchange without a body (a probe of the way to the server).
  virtual int Exchange(bool request_proxy, std::string& reply) = 0;
  virtual std::uint32_t LastError() const = 0;
};

class WinInetConnection final : public Connection {
 public:
  WinInetConnection(unsigned long timeout_ms, bool check_certificates) : connect_(timeout_ms) {
    connect_.CheckCertificates(check_certificates);
  }
  const char* library() const override { return "WinInet"; }
  // The WinINet connect step reports under the open step's name.
  const char* connect_label() const override { return "WinInet.ZInternetOpen"; }
  int Open(std::uint32_t access_type, const std::string& proxy) override {
    return connect_.ZInternetOpen(kAgentName, access_type, proxy.empty() ? nullptr : proxy.c_str());
  }
  int Connect(const std::string& host, std::uint16_t port, const std::string& scheme) override {
    return connect_.ZInternetConnect(host.c_str(), port, scheme.c_str());
  }
  int OpenRequest(const std::string& path, const char* verb) override {
    return connect_.ZHTTPOpenRequest(EscapeUnconvertibleBytes(path).c_str(), verb);
  }
  int SetProxyCredentials(const std::string& user, const std::string& password) override {
    return connect_.ZSetProxyUserPassword(user.c_str(), password.c_str());
  }
  int WebPost(const Request& request, bool, std::string& reply) override {
    int length = 0;
    return connect_.ZHTTPWebPost(request.file_path.c_str(), nullptr, nullptr, 0, request.prefix,
                                 request.suffix, &reply, &length, request.body);
  }
  int Exchange(bool, std::string& reply) override {
    int length = 0;
    return connect_.ZHTTPWebPost(nullptr, nullptr, nullptr, 0, nullptr, nullptr, &reply, &length);
  }
  std::uint32_t LastError() const override { return connect_.ZGetLastError(); }

 private:
  CZHTTPConnect connect_;
};

// Drives the process-wide connection with wide texts and leaves it reset.
class WinHttpConnection final : public Connection {
 public:
  explicit WinHttpConnection(CZWinHTTPConnect& connect) : connect_(connect) {}
  ~WinHttpConnection() override { connect_.ZReset(); }
  const char* library() const override { return "WinHTTP"; }
  const char* connect_label() const override { return "WinHTTP.ZInternetConnect"; }
  int Open(std::uint32_t access_type, const std::string& proxy) override {
    std::u16string agent = ToWide(kAgentName);
    if (proxy.empty()) return connect_.ZInternetOpen(agent.c_str(), access_type, nullptr);
    std::u16string wide_proxy = ToWide(proxy);
    return connect_.ZInternetOpen(agent.c_str(), access_type, wide_proxy.c_str());
  }
  int Connect(const std::string& host, std::uint16_t port, const std::string& scheme) override {
    return connect_.ZInternetConnect(ToWide(host).c_str(), port, ToWide(scheme).c_str());
  }
  int OpenRequest(const std::string& path, const char* verb) override {
    return connect_.ZHTTPOpenRequest(ToWide(EscapeUnconvertibleBytes(path)).c_str(),
                                     ToWide(verb).c_str());
  }
  int SetProxyCredentials(const std::string& user, const std::string& password) override {
    return connect_.ZSetProxyUserPassword(ToWide(user).c_str(), ToWide(password).c_str());
  }
  int WebPost(const Request& request, bool request_proxy, std::string& reply) override {
    int length = 0;
    return connect_.ZHTTPWebPost(request.file_path.c_str(), nullptr, nullptr, 0, request.prefix,
                                 request.suffix, &reply, &length, request_proxy, request.body);
  }
  int Exchange(bool request_proxy, std::string& reply) override {
    int length = 0;
    return connect_.ZHTTPWebPost(nullptr, nullptr, nullptr, 0, nullptr, nullptr, &reply, &length,
                                 request_proxy);
  }
  std::uint32_t LastError() const override { return connect_.ZGetLastError(); }

 private:
  CZWinHTTPConnect& connect_;
};

// ---------------------------------------------------------------------------
// One attempt
// ---------------------------------------------------------------------------

// The configured proxy for both schemes: "http=http://address:port
// https=http://address:port". An entry for "http" alone would send secure sites direct.
// When both entries do not fit 359 characters the "http" entry goes alone, cut there.
std::string ProxyText(const RunContext& ctx) {
  FixedText<kPathCapacity> entry("http://");
  entry += ctx.proxy_address.view();
  entry += ":";
  entry += ctx.proxy_port.view();
  FixedText<kPathCapacity> http("http=");
  http += entry.view();
  std::string both = http.str() + " https=" + entry.str();
  return both.size() < kPathCapacity ? both : http.str();
}

void RetryRename(const RunContext& ctx, const std::string& file_path) {
  const platform::AgentFolder& agent = platform::FolderOrUnrooted(ctx.folder);
  agent.SetAttributesNormal(file_path);
  // An older file of a retry name stays: this one takes the next retry number that is
  // free, so that its name still counts refusals and leads to the Error folder. Only in
  // the Error folder does it take a free name after the planned one.
  for (std::string current = file_path; !current.empty();) {
    const bool to_error_folder = current.back() == '5';
    std::string target =
        RetryTarget(current, ctx.error_folder.view(), platform::kPathSeparator, kPathCapacity - 1);
    if (target.empty()) return;
    if (to_error_folder) {
      agent.MoveToFreeName(file_path, target, kPathCapacity - 1);
      return;
    }
    if (agent.MoveNoReplace(file_path, target) != platform::MoveOutcome::kExists) return;
    current = target;
  }
}

// The steps before the exchange: open (with the proxy the procedure takes), connect, open
// the request with `verb`, set the proxy credentials. On a failure calls
// `failed(step label, detail or nullptr)` and returns false.
template <typename Failed>
bool OpeningSteps(const Procedure& procedure, const RunContext& ctx, Connection& connection,
                  const std::string& host, int port, const std::string& scheme,
                  const std::string& path, const char* verb, Failed failed) {
  std::string lib = connection.library();
  std::string proxy_text;
  std::uint32_t access_type = procedure.access_type;
  if (procedure.configured_proxy && !ctx.proxy_address.empty()) {
    proxy_text = ProxyText(ctx);
    access_type = kNamedProxy;
  }
  if (!connection.Open(access_type, proxy_text)) {
    failed(lib + ".ZInternetOpen", proxy_text.c_str());
    return false;
  }
  if (!connection.Connect(host, static_cast<std::uint16_t>(port), scheme)) {
    failed(connection.connect_label(), host.c_str());
    return false;
  }
  if (!connection.OpenRequest(path, verb)) {
    failed(lib + ".ZHTTPOpenRequest", nullptr);
    return false;
  }
  if (procedure.proxy_credentials &&
      !connection.SetProxyCredentials(ctx.proxy_user_name, ctx.proxy_password)) {
    failed(lib + ".ZSetProxyUserPassword", nullptr);
    return false;
  }
  return true;
}

int Attempt(const Procedure& procedure, const RunContext& ctx, Connection& connection,
            const Request& request, bool request_proxy) {
  const std::string& log = ctx.transfer_log_path.str();
  std::string lib = connection.library();
  auto error_entry = [&](const std::string& message, const char* detail1, const char* detail2,
                         const char* detail3) {
    WriteLogEntry(log, kEventError, static_cast<int>(connection.LastError()), message.c_str(),
                  detail1, detail2, detail3);
  };
  if (!OpeningSteps(procedure, ctx, connection, request.host, request.port, request.scheme,
                    request.request_path, "POST",
                    [&](const std::string& label, const char* detail) {
                      error_entry(label, "ERR", detail, nullptr);
                    }))
    return 0;
  // The body as it is before it is sent (a body held open: as it was when checked):
  // deleted after the acceptance only if unchanged.
  const platform::FileIdentity sent =
      request.body ? request.body->identity
                   : platform::FolderOrUnrooted(ctx.folder).IdentityAt(request.file_path);
  std::string received;
  if (!connection.WebPost(request, request_proxy, received)) {
    error_entry("ERR\t" + lib + ".ZHTTPWebPost", nullptr, nullptr,
                LoggableReply(ReplyText(received)).c_str());
    return 0;
  }
  // The reply is read as zero-terminated text: it ends at its first zero byte.
  const std::string_view reply = ReplyText(received);
  const bool retry_rename = procedure.retry_rename && request.retry_rename;
  if (reply.empty()) {
    error_entry(lib + ".ZHTTPWebPost", "ERR", "No text returned", nullptr);
    if (retry_rename) RetryRename(ctx, request.file_path);
    return 0;
  }
  std::string message = std::string("MSG: Return text from ") + procedure.name;
  WriteLogEntry(log, kEventProgress, 0, message.c_str(), LoggableReply(reply).c_str());
  if (IsAcceptedReply(reply)) {
    // A file that changed or was replaced while it was posted stays for the next run, and
    // so does one a writer waits to change (its bytes would go into a file nobody reads).
    DeleteAccepted(ctx, request.file_path, &sent, request.body ? request.body->file : nullptr);
    return 1;
  }
  if (retry_rename && IsRefusedReply(reply)) RetryRename(ctx, request.file_path);
  return 0;
}

// The connection procedure `procedure` uses: the process-wide WinHTTP one (with the
// request proxy set when asked), or a new WinINet one.
std::unique_ptr<Connection> MakeConnection(const Procedure& procedure, const RunContext& ctx,
                                           CZWinHTTPConnect* winhttp, unsigned long timeout_ms,
                                           bool request_proxy) {
  if (procedure.transport == Transport::kWinInet)
    return std::make_unique<WinInetConnection>(timeout_ms, ctx.wininet_checks_certificates);
  if (request_proxy) winhttp->SetRequestProxy(ctx.proxy_address.str(), ctx.proxy_port.str());
  return std::make_unique<WinHttpConnection>(*winhttp);
}

// Writes the start entry, makes the connection and runs the attempt; nothing escapes.
int Send(const Procedure& procedure, const RunContext& ctx, CZWinHTTPConnect* winhttp,
         unsigned long timeout_ms, const Request& request, bool request_proxy) {
  try {
    std::string started = std::string("MSG: Started ") + procedure.name;
    WriteLogEntry(ctx.transfer_log_path.str(), kEventProgress, 0, started.c_str());
    std::unique_ptr<Connection> connection =
        MakeConnection(procedure, ctx, winhttp, timeout_ms, request_proxy);
    return Attempt(procedure, ctx, *connection, request, request_proxy);
  } catch (...) {
    if (winhttp) winhttp->ZReset();
    return 0;
  }
}

}  // namespace

int SendWinHTTPPOST(const RunContext& ctx, CZWinHTTPConnect& winhttp, const std::string& host,
                    const std::string& request_path, const std::string& scheme,
                    const std::string& file_path, const char* prefix, const char* suffix,
                    int port, const HeldBody* body) {
  return Send(kSendWinHTTPPOST, ctx, &winhttp, 0,
              {host, request_path, scheme, file_path, prefix, suffix, port, true, body}, false);
}

int SendProxyWinHTTPPOST(const RunContext& ctx, CZWinHTTPConnect& winhttp,
                         const std::string& host, const std::string& request_path,
                         const std::string& scheme, const std::string& file_path,
                         const char* prefix, const char* suffix, int port,
                         int request_proxy_flag, const HeldBody* body) {
  return Send(kSendProxyWinHTTPPOST, ctx, &winhttp, 0,
              {host, request_path, scheme, file_path, prefix, suffix, port, true, body},
              request_proxy_flag != 0);
}

int SendDefaultProxyWinHTTPPOST(const RunContext& ctx, CZWinHTTPConnect& winhttp,
                                const std::string& host, const std::string& request_path,
                                const std::string& scheme, const std::string& file_path,
                                const char* prefix, const char* suffix, int port,
                                const HeldBody* body) {
  return Send(kSendDefaultProxyWinHTTPPOST, ctx, &winhttp, 0,
              {host, request_path, scheme, file_path, prefix, suffix, port, true, body}, false);
}

int SendPOST(const RunContext& ctx, const std::string& host, const std::string& request_path,
             const std::string& scheme, const std::string& file_path, const char* prefix,
             const char* suffix, int port, unsigned long timeout_ms, const HeldBody* body) {
  return Send(kSendPOST, ctx, nullptr, timeout_ms,
              {host, request_path, scheme, file_path, prefix, suffix, port, true, body}, false);
}

int SendProxyPOST(const RunContext& ctx, const std::string& host,
                  const std::string& request_path, const std::string& scheme,
                  const std::string& file_path, const char* prefix, const char* suffix,
                  int port, unsigned long timeout_ms, const HeldBody* body) {
  return Send(kSendProxyPOST, ctx, nullptr, timeout_ms,
              {host, request_path, scheme, file_path, prefix, suffix, port, true, body}, false);
}

int SendDefaultProxyPOST(const RunContext& ctx, const std::string& host,
                         const std::string& request_path, const std::string& scheme,
                         const std::string& file_path, const char* prefix, const char* suffix,
                         int port, unsigned long timeout_ms, bool retry_rename,
                         const HeldBody* body) {
  return Send(kSendDefaultProxyPOST, ctx, nullptr, timeout_ms,
              {host, request_path, scheme, file_path, prefix, suffix, port, retry_rename, body},
              false);
}

ProbeOutcome ProbeSendProcedure(const std::string& procedure_name, bool request_proxy,
                                const RunContext& ctx, CZWinHTTPConnect* winhttp,
                                const std::string& host, const std::string& path,
                                const std::string& scheme, int port, const char* verb,
                                unsigned long timeout_ms) {
  ProbeOutcome outcome;
  const Procedure* procedure = nullptr;
  for (const Procedure* p :
       {&kSendWinHTTPPOST, &kSendProxyWinHTTPPOST, &kSendDefaultProxyWinHTTPPOST, &kSendPOST,
        &kSendProxyPOST, &kSendDefaultProxyPOST})
    if (procedure_name == p->name) procedure = p;
  if (!procedure || (procedure->transport == Transport::kWinHttp && !winhttp)) {
    outcome.step = "unknown procedure or no WinHTTP";
    return outcome;
  }
  try {
    std::unique_ptr<Connection> connection =
        MakeConnection(*procedure, ctx, winhttp, timeout_ms, request_proxy);
    bool opened =
        OpeningSteps(*procedure, ctx, *connection, host, port, scheme, path, verb,
                     [&](const std::string& label, const char*) { outcome.step = label; });
    if (opened) {
      outcome.step = std::string(connection->library()) + ".ZHTTPWebPost";
      std::string reply;
      connection->Exchange(request_proxy, reply);
      outcome.reply = reply;
    }
    outcome.error = connection->LastError();
    // The exchange records an HTTP status of 300 or more as its error; system and library
    // errors below 300 or from 12000 up are failures to get a reply.
    outcome.replied =
        opened && (outcome.error == 0 || (outcome.error >= 300 && outcome.error < 600));
  } catch (...) {
    if (winhttp) winhttp->ZReset();
    outcome.step = "unexpected failure";
  }
  return outcome;
}

}  // namespace vemtu
