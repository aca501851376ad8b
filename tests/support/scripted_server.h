// Servers that tests start on loopback addresses and script: an HTTP/HTTPS server that
// records every request it receives and answers as told (status, body, delay, a dropped
// or reset connection, bytes that are not HTTP), a self-signed certificate made at test
// time, and a real proxy with Basic authentication (tinyproxy) started from a generated
// configuration. Linux only (the implementations are *_posix.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vemtu::test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// What the server does with one request.
enum class ReplyKind {
  kAnswer,       // an HTTP reply: status, headers, body
  kDrop,         // read the whole request, then close the connection without a reply
  kResetMidBody, // read `reset_after` body bytes, then reset the connection (TCP RST)
  kGarbage,      // read the whole request, send `body` as it is (not HTTP), then close
  kStall,        // read the whole request and never answer (until the server stops)
};

struct Reply {
  ReplyKind kind = ReplyKind::kAnswer;
  int status = 200;
  std::string reason;        // empty: the usual text for `status`
  HeaderList headers;        // sent as given; Content-Length is added unless present
  std::string body;
  int delay_ms = 0;          // pause after reading the request, before answering
  std::size_t reset_after = 0;  // kResetMidBody: body bytes read before the reset
  bool close = false;        // close the connection after this reply
  // Answer as soon as the request headers are read, without reading the body, then
  // close (as a proxy does that refuses a request before its body). Plain HTTP reads
  // and drops the rest of the body before closing, so that the answer arrives whole.
  bool before_body = false;

  static Reply Status(int status, std::string body = "");
  // 401 with `WWW-Authenticate: Basic realm="<realm>"`.
  static Reply Unauthorized(const std::string& realm = "vemtu");
  // 407 with `Proxy-Authenticate: Basic realm="<realm>"`.
  static Reply ProxyUnauthorized(const std::string& realm = "vemtu");
  static Reply Of(ReplyKind kind);
};

// One request as the server received it.
struct RecordedRequest {
  std::string request_line;  // without its CRLF, e.g. "POST /a/b?x=1 HTTP/1.1"
  std::string method;
  std::string target;        // as sent: origin form or, through a proxy, absolute form
  std::string path;          // target up to '?', scheme and authority removed
  std::string query;         // after '?', without it; empty when none
  std::string version;       // "HTTP/1.1"
  HeaderList headers;        // in arrival order
  std::string body;          // the body bytes (the first `body_keep_limit` of them)
  std::uint64_t body_size = 0;          // body bytes received in all
  std::vector<std::size_t> chunk_sizes; // body bytes per read as they arrived
  bool body_complete = false;           // the whole announced body arrived
  bool tls = false;

  // The first header called `name` (case-insensitive); empty when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
};

// A certificate and its private key, PEM-encoded.
struct TlsCertificate {
  std::string certificate_pem;
  std::string private_key_pem;
};

// A self-signed certificate for `common_name`, also valid for 127.0.0.1 to 127.0.0.5 and
// localhost. Made fresh on each call; nothing trusts it. (The TLS servers share one.)
TlsCertificate MakeSelfSignedCertificate(const std::string& common_name = "127.0.0.1");

class ScriptedServer {
 public:
  struct Options {
    std::string address = "127.0.0.1";  // any 127.x.y.z address
    bool tls = false;                   // HTTPS with a self-signed certificate
    std::size_t body_keep_limit = 64u << 20;  // body bytes kept per request
  };

  // Starts listening on a free port; throws std::runtime_error when it cannot.
  ScriptedServer();
  explicit ScriptedServer(Options options);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  const std::string& address() const;
  int port() const;
  // "http://127.0.0.1:<port>" (https for a TLS server).
  std::string BaseUrl() const;
  // "127.0.0.1:<port>".
  std::string HostPort() const;

  // Replies in the order given, one per request; once they are used up, the default
  // reply (200 with an empty body unless set).
  void Push(Reply reply);
  void SetDefault(Reply reply);
  // Decides each reply from the request line and headers (the body is not read yet);
  // takes precedence over the queue.
  void SetHandler(std::function<Reply(const RecordedRequest&)> handler);

  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount() const;
  // Connections accepted so far (a request whose headers never arrived is not recorded).
  std::size_t ConnectionCount() const;
  // Waits until `count` requests are complete (answered, dropped or reset).
  bool WaitForRequests(std::size_t count, int timeout_ms) const;

  // Closes the listener and every connection, ends stalls, joins the threads.
  void Stop();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// A tinyproxy on a loopback address (127.0.0.2 by default, so that proxy and server
// differ in address), optionally requiring Basic authentication.
class TinyProxy {
 public:
  struct Options {
    std::string address = "127.0.0.2";
    std::string user;      // empty: no authentication
    std::string password;
  };

  // Starts the proxy and waits until it accepts connections; throws
  // std::runtime_error when it does not start within a few seconds.
  TinyProxy();
  explicit TinyProxy(Options options);
  ~TinyProxy();
  TinyProxy(const TinyProxy&) = delete;
  TinyProxy& operator=(const TinyProxy&) = delete;

  const std::string& address() const { return options_.address; }
  int port() const { return port_; }
  std::string HostPort() const;
  // The proxy's log so far.
  std::string LogText() const;
  void Stop();

 private:
  Options options_;
  std::string folder_;
  int port_ = 0;
  int pid_ = -1;
};

}  // namespace vemtu::test
