#include "server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "packed_document.h"
#include "status_page.h"
#include "tls_identity.h"

namespace dcsim {

namespace {

constexpr std::size_t kHeadLimit = 64 * 1024;
constexpr std::size_t kBodyLimit = 256u << 20;
// Idle connections end after ServerOptions::idle_seconds, so this many are seldom reached.
constexpr int kMaxConnections = 2048;
constexpr int kPageRefreshSeconds = 2;
constexpr const char kCutBody[] =
    "the client closed the connection or went idle before the body ended";

// ---- Byte streams over a socket, plain or TLS ----

class Stream {
 public:
  virtual ~Stream() = default;
  // Bytes read (0 at the end of the stream, -1 on failure).
  virtual long Read(char* buffer, std::size_t size) = 0;
  virtual bool WriteAll(const char* data, std::size_t size) = 0;
  bool WriteAll(const std::string& text) { return WriteAll(text.data(), text.size()); }
};

class PlainStream : public Stream {
 public:
  explicit PlainStream(int fd) : fd_(fd) {}
  long Read(char* buffer, std::size_t size) override {
    ssize_t n = ::recv(fd_, buffer, size, 0);
    return n < 0 ? -1 : static_cast<long>(n);
  }
  bool WriteAll(const char* data, std::size_t size) override {
    while (size) {
      ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

class TlsStream : public Stream {
 public:
  TlsStream(SSL_CTX* ctx, int fd) : ssl_(SSL_new(ctx)) {
    ERR_clear_error();
    if (ssl_ && SSL_set_fd(ssl_, fd) == 1 && SSL_accept(ssl_) == 1) {
      ready_ = true;
      return;
    }
    char text[256] = "the client closed the connection during the handshake";
    if (unsigned long code = ERR_get_error()) ERR_error_string_n(code, text, sizeof text);
    failure_ = text;
  }
  ~TlsStream() override {
    if (ssl_) SSL_free(ssl_);
  }
  bool ready() const { return ready_; }
  // Why the handshake failed (OpenSSL's text), when it did.
  const std::string& failure() const { return failure_; }
  long Read(char* buffer, std::size_t size) override {
    int n = SSL_read(ssl_, buffer, static_cast<int>(size));
    if (n > 0) return n;
    return SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }
  bool WriteAll(const char* data, std::size_t size) override {
    while (size) {
      int n = SSL_write(ssl_, data, static_cast<int>(size));
      if (n <= 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }
  void Shutdown() { SSL_shutdown(ssl_); }

 private:
  SSL* ssl_;
  bool ready_ = false;
  std::string failure_;
};

// ---- One HTTP/1.1 request ----

struct Request {
  std::string head;  // request line and headers, up to and including the blank line
  std::string method, target, version;
  std::vector<std::pair<std::string, std::string>> headers;

  std::string Header(const char* name) const {
    for (const auto& [key, value] : headers) {
      if (key.size() == std::strlen(name) &&
          std::equal(key.begin(), key.end(), name, [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
          }))
        return value;
    }
    return {};
  }
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class Reader {
 public:
  explicit Reader(Stream& stream) : stream_(stream) {}

  // Reads up to the blank line ending the head; false at the end of the stream or on a
  // malformed or oversized head.
  bool ReadHead(Request& request) {
    std::size_t end;
    while ((end = buffered_.find("\r\n\r\n")) == std::string::npos) {
      if (buffered_.size() > kHeadLimit || !Fill()) return false;
    }
    request = Request{};
    request.head = buffered_.substr(0, end + 4);
    buffered_.erase(0, end + 4);
    std::istringstream lines(request.head);
    std::string line;
    std::getline(lines, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    if (!(words >> request.method >> request.target >> request.version)) return false;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::size_t v = line.find_first_not_of(" \t", colon + 1);
      request.headers.emplace_back(line.substr(0, colon),
                                   v == std::string::npos ? "" : line.substr(v));
    }
    return true;
  }

  // Reads the body the head announces (Content-Length or chunked).
  bool ReadBody(const Request& request, std::string& body) {
    body.clear();
    if (Lower(request.Header("Transfer-Encoding")).find("chunked") != std::string::npos) {
      while (true) {
        std::string size_line;
        if (!ReadLine(size_line)) return false;
        unsigned long size = std::strtoul(size_line.c_str(), nullptr, 16);
        if (size > kBodyLimit || body.size() + size > kBodyLimit) return false;
        if (size == 0) {
          std::string trailer;
          do {
            if (!ReadLine(trailer)) return false;
          } while (!trailer.empty());
          return true;
        }
        if (!ReadExact(size, body)) return false;
        std::string crlf;
        if (!ReadLine(crlf)) return false;
      }
    }
    std::string length = request.Header("Content-Length");
    if (length.empty()) return true;
    unsigned long size = std::strtoul(length.c_str(), nullptr, 10);
    if (size > kBodyLimit) return false;
    return ReadExact(size, body);
  }

  // Whatever arrived beyond the last request read (also: part of a head that never ended) (bytes of
  // a TLS handshake after CONNECT must not be lost; clients wait for the 200 first, so this stays
  // empty).
  bool HasBuffered() const { return !buffered_.empty(); }

 private:
  bool Fill() {
    char block[16384];
    long n = stream_.Read(block, sizeof block);
    if (n <= 0) return false;
    buffered_.append(block, static_cast<std::size_t>(n));
    return true;
  }
  bool ReadExact(std::size_t size, std::string& out) {
    while (buffered_.size() < size)
      if (!Fill()) return false;
    out.append(buffered_, 0, size);
    buffered_.erase(0, size);
    return true;
  }
  bool ReadLine(std::string& line) {
    std::size_t end;
    while ((end = buffered_.find("\r\n")) == std::string::npos)
      if (buffered_.size() > kHeadLimit || !Fill()) return false;
    line = buffered_.substr(0, end);
    buffered_.erase(0, end + 2);
    return true;
  }

  Stream& stream_;
  std::string buffered_;
};

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 407:
      return "Proxy Authentication Required";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

std::string ResponseHead(int status, std::size_t length, bool keep_alive,
                         const std::string& extra = {}) {
  return "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) +
         "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(length) +
         "\r\nConnection: " + (keep_alive ? "keep-alive" : "close") + "\r\n" + extra + "\r\n";
}

bool WantsKeepAlive(const Request& request) {
  std::string connection = Lower(request.Header("Connection"));
  if (request.version == "HTTP/1.0") return connection == "keep-alive";
  return connection.find("close") == std::string::npos;
}

std::string EncodeBase64(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

enum class PortKind {
  kHttp,   // plain HTTP
  kHttps,  // TLS from the first byte
  kProxy,  // forward proxy: absolute-form requests served here, CONNECT tunnels to TLS
};

}  // namespace

struct Server::Impl {
  ServerOptions options;
  ReplyScript& script;
  RequestStore& store;
  SSL_CTX* tls = nullptr;
  std::atomic<int> connections{0};
  std::mutex script_mutex;
  struct timespec script_mtime {};
  off_t script_size = -1;

  Impl(ServerOptions o, ReplyScript& s, RequestStore& r)
      : options(std::move(o)), script(s), store(r) {}

  // Rereads the script file when its time stamp or size changed since the last look.
  void RefreshScript() {
    if (options.script_file.empty()) return;
    struct stat info {};
    if (::stat(options.script_file.c_str(), &info) != 0) return;
    std::lock_guard<std::mutex> hold(script_mutex);
    if (info.st_size == script_size && info.st_mtim.tv_sec == script_mtime.tv_sec &&
        info.st_mtim.tv_nsec == script_mtime.tv_nsec)
      return;
    std::ifstream in(options.script_file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string error;
    if (script.Load(text.str(), error)) {
      script_mtime = info.st_mtim;
      script_size = info.st_size;
    } else {
      std::fprintf(stderr, "dcsim: %s\n", error.c_str());
    }
  }

  bool ProxyAuthorized(const Request& request) const {
    if (options.proxy_user.empty()) return true;
    std::string expected =
        "basic " + EncodeBase64(options.proxy_user + ":" + options.proxy_password);
    std::string given = request.Header("Proxy-Authorization");
    std::size_t space = given.find(' ');
    if (space == std::string::npos) return false;
    return Lower(given.substr(0, space)) == "basic" &&
           given.substr(space + 1) == expected.substr(6);
  }

  // Serves requests on one stream until it ends; `via` names the way they came.
  void Serve(Stream& stream, PortKind kind, const char* via, int fd) {
    Reader reader(stream);
    Request request;
    while (ServeOne(stream, reader, request, kind, via, fd)) {
    }
  }

  // A request as the index shows what the data centre did not serve.
  static Received Unserved(const Request& request, const char* via) {
    Received r;
    r.via = via;
    r.head = request.head;
    r.method = request.method;
    r.target = request.target;
    return r;
  }

  // The status page at "/" (and nothing at "/favicon.ico"); true when `request` was one
  // of those two, which are not recorded: a browser reloads the page every few seconds.
  bool ServePage(Stream& stream, const Request& request, bool keep_alive, bool& open) {
    std::string path = request.target.substr(0, request.target.find('?'));
    if (request.method != "GET" || (path != "/" && path != "/favicon.ico")) return false;
    std::string page =
        path == "/" ? StatusPage(store.Latest(), kPageRefreshSeconds) : std::string();
    std::string head = ResponseHead(path == "/" ? 200 : 404, page.size(), keep_alive,
                                    "Cache-Control: no-store\r\n");
    open = stream.WriteAll(head + page) && keep_alive;
    return true;
  }

  // Serves one request; false when the connection is to end.
  bool ServeOne(Stream& stream, Reader& reader, Request& request, PortKind kind, const char* via,
                int fd) {
    if (!reader.ReadHead(request)) {
      if (reader.HasBuffered()) {
        Received cut;
        cut.via = via;
        store.RecordUnserved(cut, "cut", "a request head that never ended or was malformed");
      }
      return false;
    }
    bool expect_continue = Lower(request.Header("Expect")) == "100-continue";
    bool keep_alive = WantsKeepAlive(request);

    if (kind == PortKind::kProxy && !ProxyAuthorized(request)) {
      static const std::string kPage = "<html><body>Proxy credentials required</body></html>";
      std::string challenge = "Proxy-Authenticate: Basic realm=\"dcsim\"\r\n";
      std::string ignored;
      if (request.method != "CONNECT") {
        // Read the body first: a client still sending it would otherwise meet a reset.
        // A client waiting for "100 Continue" gets the refusal at once and a closed line.
        if (expect_continue)
          keep_alive = false;
        else if (!reader.ReadBody(request, ignored)) {
          store.RecordUnserved(Unserved(request, via), "cut", kCutBody);
          return false;
        }
      }
      Received refused = Unserved(request, via);
      refused.body = std::move(ignored);
      store.RecordUnserved(refused, "407",
                           request.Header("Proxy-Authorization").empty()
                               ? "proxy credentials required (none given)"
                               : "proxy credentials required (wrong ones given)");
      return stream.WriteAll(ResponseHead(407, kPage.size(), keep_alive, challenge) + kPage) &&
             keep_alive;
    }

    if (kind == PortKind::kProxy && request.method == "CONNECT") {
      // Whatever host was named, the tunnel ends in this simulator's own TLS service.
      store.RecordUnserved(Unserved(request, via), "200", "tunnel to the HTTPS service");
      if (!stream.WriteAll(std::string("HTTP/1.1 200 Connection established\r\n\r\n")))
        return false;
      if (reader.HasBuffered()) return false;
      ServeTls(fd, "tunnel");
      return false;
    }

    bool open = false;
    if (ServePage(stream, request, keep_alive, open)) return open;

    if (expect_continue && !stream.WriteAll(std::string("HTTP/1.1 100 Continue\r\n\r\n")))
      return false;
    Received received;
    if (!reader.ReadBody(request, received.body)) {
      store.RecordUnserved(Unserved(request, via), "cut", kCutBody);
      return false;
    }
    received.via = via;
    received.head = request.head;
    received.method = request.method;
    received.target = OriginForm(request.target);

    RefreshScript();
    unsigned long number = store.Next();
    TargetCheck check = CheckTarget(received.target, options.expected_query);
    Reply reply;
    if (request.method != "POST") {
      reply.status = 405;
      reply.body = "<html><body>only POST is served</body></html>";
    } else if (check.status != 200) {
      reply.status = check.status;
      reply.body = "<html><body>" + check.problem + "</body></html>";
    } else {
      reply = script.Choose(number, check.prefix);
    }
    store.Record(number, received, check.prefix, reply.status, reply.body, reply.drop);
    if (reply.delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delay_ms));
    if (reply.drop) return false;
    return stream.WriteAll(ResponseHead(reply.status, reply.body.size(), keep_alive) +
                           reply.body) &&
           keep_alive;
  }

  // A TLS connection (the HTTPS port, or a tunnel opened by CONNECT) on `fd`.
  void ServeTls(int fd, const char* via) {
    TlsStream stream(tls, fd);
    if (stream.ready()) {
      Serve(stream, PortKind::kHttps, via, fd);
      return;
    }
    Received failed;
    failed.via = via;
    store.RecordUnserved(failed, "tls", "handshake failed: " + stream.failure());
  }

  void Connection(int fd, PortKind kind) {
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A connection that sends or takes nothing for this long is closed, so idle clients
    // never hold the simulator's connections from others.
    struct timeval idle {
      options.idle_seconds, 0
    };
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &idle, sizeof idle);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &idle, sizeof idle);
    if (kind == PortKind::kHttps) {
      ServeTls(fd, "https");
    } else {
      PlainStream stream(fd);
      Serve(stream, kind, kind == PortKind::kProxy ? "proxy" : "http", fd);
    }
    ::close(fd);
    --connections;
  }

  void AcceptLoop(int listener, PortKind kind) {
    while (true) {
      int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED || errno == EMFILE) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
          continue;
        }
        return;
      }
      if (connections.load() >= kMaxConnections) {
        ::close(fd);
        continue;
      }
      ++connections;
      std::thread([this, fd, kind] { Connection(fd, kind); }).detach();
    }
  }

  int Listen(int port, std::string& error) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
      error = "socket failed";
      return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, options.bind_address.c_str(), &address.sin_addr) != 1) {
      error = "bad bind address " + options.bind_address;
      ::close(fd);
      return -1;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 128) != 0) {
      error = "cannot listen on " + options.bind_address + ":" + std::to_string(port) + ": " +
              std::strerror(errno);
      ::close(fd);
      return -1;
    }
    return fd;
  }

  static int BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
  }
};

Server::Server(ServerOptions options, ReplyScript& script, RequestStore& store)
    : impl_(std::make_unique<Impl>(std::move(options), script, store)) {}

Server::~Server() = default;  // the process ends with its server; threads are detached

bool Server::Start(Ports& ports, std::string& error) {
  impl_->RefreshScript();
  impl_->tls = MakeServerContext(impl_->options.cert_file, impl_->options.key_file,
                                 impl_->options.cert_out, error);
  if (!impl_->tls) return false;
  int http = impl_->Listen(impl_->options.http_port, error);
  if (http < 0) return false;
  int https = impl_->Listen(impl_->options.https_port, error);
  if (https < 0) return false;
  int proxy = impl_->Listen(impl_->options.proxy_port, error);
  if (proxy < 0) return false;
  ports.http = Impl::BoundPort(http);
  ports.https = Impl::BoundPort(https);
  ports.proxy = Impl::BoundPort(proxy);
  Impl* impl = impl_.get();
  std::thread([impl, http] { impl->AcceptLoop(http, PortKind::kHttp); }).detach();
  std::thread([impl, https] { impl->AcceptLoop(https, PortKind::kHttps); }).detach();
  std::thread([impl, proxy] { impl->AcceptLoop(proxy, PortKind::kProxy); }).detach();
  return true;
}

}  // namespace dcsim
