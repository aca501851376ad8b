// The scripted HTTP/HTTPS server: one accepting thread, one thread per connection,
// plain sockets (and OpenSSL for HTTPS) so that a script can drop, reset or garble a
// connection at the byte it chooses.
#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace vemtu::test {

namespace {

constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kReadSize = 64 * 1024;

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string Trim(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  std::size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

const char* ReasonFor(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
  }
}

// One accepted connection: a socket, and a TLS session over it for HTTPS.
class Connection {
 public:
  Connection(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
  ~Connection() {
    if (ssl_) SSL_free(ssl_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Bytes read, 0 at the end of the stream or on failure.
  std::size_t Read(char* data, std::size_t size) {
    if (ssl_) {
      int got = SSL_read(ssl_, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
      return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    while (true) {
      ssize_t got = recv(fd_, data, size, 0);
      if (got < 0 && errno == EINTR) continue;
      return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
  }

  bool Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      if (ssl_) {
        int put = SSL_write(ssl_, bytes.data() + done,
                            static_cast<int>(std::min<std::size_t>(bytes.size() - done, 1 << 30)));
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
      } else {
        ssize_t put = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
      }
    }
    return true;
  }

  // Ends the sending side and reads whatever the peer still sends (for at most two
  // seconds) before the close: a request body that is still arriving must not turn
  // the close into a reset that could destroy the reply on its way.
  void Linger() {
    if (ssl_) return;
    shutdown(fd_, SHUT_WR);
    timeval wait{0, 200 * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::vector<char> sink(kReadSize);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
      ssize_t got = recv(fd_, sink.data(), sink.size(), 0);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        break;
      }
    }
  }

  // Makes the coming close() send a TCP reset instead of an orderly end.
  void ArmReset() {
    linger option{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  }

  std::string& pending() { return pending_; }

 private:
  int fd_;
  SSL* ssl_;
  std::string pending_;  // bytes read past what has been parsed
};

}  // namespace

// ---- Reply and RecordedRequest ----

Reply Reply::Status(int status, std::string body) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}

Reply Reply::Unauthorized(const std::string& realm) {
  Reply reply = Status(401, "unauthorized");
  reply.headers.push_back({"WWW-Authenticate", "Basic realm=\"" + realm + "\""});
  return reply;
}

Reply Reply::ProxyUnauthorized(const std::string& realm) {
  Reply reply = Status(407, "proxy authentication required");
  reply.headers.push_back({"Proxy-Authenticate", "Basic realm=\"" + realm + "\""});
  return reply;
}

Reply Reply::Of(ReplyKind kind) {
  Reply reply;
  reply.kind = kind;
  return reply;
}

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (EqualsNoCase(key, name)) return value;
  }
  return "";
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  for (const auto& header : headers) {
    if (EqualsNoCase(header.first, name)) return true;
  }
  return false;
}

// ---- The server ----

struct ScriptedServer::State {
  Options options;
  int listen_fd = -1;
  int port = 0;
  SSL_CTX* tls = nullptr;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  bool stopping = false;
  std::deque<Reply> queue;
  Reply default_reply;
  std::function<Reply(const RecordedRequest&)> handler;
  std::vector<RecordedRequest> requests;
  std::size_t connections = 0;
  std::set<int> open_fds;

  std::thread acceptor;
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::list<Worker> workers;  // touched by the accepting thread, then by Stop

  void AcceptLoop();
  void Serve(int fd);
  // One request on `connection`; false when the connection is to be closed.
  bool ServeOne(Connection& connection, bool& reset);
  Reply ChooseReply(const RecordedRequest& request);
  void Record(RecordedRequest request);
  // Waits `ms` or until the server stops; false when it stopped.
  bool Pause(int ms);
};

namespace {

bool ParseHead(const std::string& head, RecordedRequest& request) {
  std::size_t line_end = head.find("\r\n");
  request.request_line = head.substr(0, line_end);
  std::size_t first = request.request_line.find(' ');
  std::size_t last = request.request_line.rfind(' ');
  if (first == std::string::npos || last == first) return false;
  request.method = request.request_line.substr(0, first);
  request.target = request.request_line.substr(first + 1, last - first - 1);
  request.version = request.request_line.substr(last + 1);

  std::string rest = request.target;
  for (const char* scheme : {"http://", "https://"}) {
    if (rest.rfind(scheme, 0) == 0) {
      std::size_t slash = rest.find('/', std::char_traits<char>::length(scheme));
      rest = slash == std::string::npos ? "/" : rest.substr(slash);
    }
  }
  std::size_t mark = rest.find('?');
  request.path = rest.substr(0, mark);
  if (mark != std::string::npos) request.query = rest.substr(mark + 1);

  std::size_t at = line_end;
  while (at != std::string::npos && at + 2 < head.size()) {
    std::size_t next = head.find("\r\n", at + 2);
    std::string line = head.substr(at + 2, next == std::string::npos ? std::string::npos
                                                                     : next - at - 2);
    std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
      request.headers.push_back({line.substr(0, colon), Trim(line.substr(colon + 1))});
    }
    at = next;
  }
  return true;
}

std::string FormatReply(const Reply& reply, bool close) {
  std::string out = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                    (reply.reason.empty() ? ReasonFor(reply.status) : reply.reason) + "\r\n";
  bool has_length = false;
  for (const auto& [name, value] : reply.headers) {
    if (EqualsNoCase(name, "Content-Length")) has_length = true;
    out += name + ": " + value + "\r\n";
  }
  if (!has_length) out += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  if (close) out += "Connection: close\r\n";
  out += "\r\n";
  out += reply.body;
  return out;
}

}  // namespace

Reply ScriptedServer::State::ChooseReply(const RecordedRequest& request) {
  std::function<Reply(const RecordedRequest&)> decide;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!handler) {
      if (queue.empty()) return default_reply;
      Reply reply = std::move(queue.front());
      queue.pop_front();
      return reply;
    }
    decide = handler;
  }
  return decide(request);
}

void ScriptedServer::State::Record(RecordedRequest request) {
  std::lock_guard<std::mutex> lock(mutex);
  requests.push_back(std::move(request));
  changed.notify_all();
}

bool ScriptedServer::State::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex);
  return !changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping; });
}

bool ScriptedServer::State::ServeOne(Connection& connection, bool& reset) {
  std::string& pending = connection.pending();
  std::vector<char> buffer(kReadSize);

  // Request line and headers.
  std::size_t head_end;
  while ((head_end = pending.find("\r\n\r\n")) == std::string::npos) {
    if (pending.size() > kMaxHeaderBytes) return false;
    std::size_t got = connection.Read(buffer.data(), buffer.size());
    if (got == 0) return false;
    pending.append(buffer.data(), got);
  }
  RecordedRequest request;
  request.tls = tls != nullptr;
  if (!ParseHead(pending.substr(0, head_end), request)) return false;
  pending.erase(0, head_end + 4);

  Reply reply = ChooseReply(request);
  // HTTP/1.0 keeps the connection only when the client asks for it.
  bool close = reply.close || EqualsNoCase(request.Header("Connection"), "close") ||
               (request.version == "HTTP/1.0" &&
                !EqualsNoCase(request.Header("Connection"), "keep-alive"));
  if (reply.before_body) {
    Record(request);
    connection.Write(FormatReply(reply, true));
    connection.Linger();
    return false;
  }
  if (EqualsNoCase(request.Header("Expect"), "100-continue")) {
    connection.Write("HTTP/1.1 100 Continue\r\n\r\n");
  }

  // The body, read as it arrives.
  auto take = [&](const char* data, std::size_t size) {
    request.chunk_sizes.push_back(size);
    request.body_size += size;
    std::size_t room = options.body_keep_limit > request.body.size()
                           ? options.body_keep_limit - request.body.size()
                           : 0;
    request.body.append(data, std::min(room, size));
  };
  auto reached_reset = [&] {
    return reply.kind == ReplyKind::kResetMidBody && request.body_size >= reply.reset_after;
  };
  if (EqualsNoCase(request.Header("Transfer-Encoding"), "chunked")) {
    while (true) {
      std::size_t line_end;
      while ((line_end = pending.find("\r\n")) == std::string::npos) {
        std::size_t got = connection.Read(buffer.data(), buffer.size());
        if (got == 0) { Record(request); return false; }
        pending.append(buffer.data(), got);
      }
      std::size_t size = std::strtoul(pending.substr(0, line_end).c_str(), nullptr, 16);
      pending.erase(0, line_end + 2);
      while (pending.size() < size + 2) {
        std::size_t got = connection.Read(buffer.data(), buffer.size());
        if (got == 0) { Record(request); return false; }
        pending.append(buffer.data(), got);
      }
      if (size == 0) {
        pending.erase(0, 2);  // trailers are not expected
        request.body_complete = true;
        break;
      }
      take(pending.data(), size);
      pending.erase(0, size + 2);
      if (reached_reset()) break;
    }
  } else {
    std::uint64_t length = std::strtoull(request.Header("Content-Length").c_str(), nullptr, 10);
    if (length > 0 && !pending.empty()) {
      std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(length, pending.size()));
      take(pending.data(), size);
      pending.erase(0, size);
    }
    while (request.body_size < length && !reached_reset()) {
      std::size_t want =
          static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - request.body_size));
      if (reply.kind == ReplyKind::kResetMidBody) {
        want = std::min<std::size_t>(want, reply.reset_after - request.body_size);
      }
      std::size_t got = connection.Read(buffer.data(), want);
      if (got == 0) { Record(request); return false; }
      take(buffer.data(), got);
    }
    request.body_complete = request.body_size >= length;
  }

  if (reply.kind == ReplyKind::kResetMidBody) {
    Record(request);
    reset = true;
    return false;
  }
  if (reply.delay_ms > 0 && !Pause(reply.delay_ms)) {
    Record(request);
    return false;
  }
  Record(request);
  switch (reply.kind) {
    case ReplyKind::kAnswer:
      if (!connection.Write(FormatReply(reply, close))) return false;
      return !close;
    case ReplyKind::kDrop:
      return false;
    case ReplyKind::kGarbage:
      connection.Write(reply.body);
      return false;
    case ReplyKind::kStall: {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [this] { return stopping; });
      return false;
    }
    case ReplyKind::kResetMidBody:
      return false;
  }
  return false;
}

void ScriptedServer::State::Serve(int fd) {
  SSL* session = nullptr;
  bool ready = true;
  if (tls) {
    session = SSL_new(tls);
    SSL_set_fd(session, fd);
    ready = SSL_accept(session) > 0;
  }
  {
    Connection connection(fd, session);  // owns the TLS session
    bool reset = false;
    while (ready && ServeOne(connection, reset)) {
    }
    if (reset) connection.ArmReset();
    else if (ready && session) SSL_shutdown(session);
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    open_fds.erase(fd);
  }
  close(fd);
}

void ScriptedServer::State::AcceptLoop() {
  while (true) {
    int fd = accept(listen_fd, nullptr, nullptr);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (stopping) {
        close(fd);
        return;
      }
      open_fds.insert(fd);
      ++connections;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Join the connections that have ended, so a long run does not pile up threads.
    for (auto it = workers.begin(); it != workers.end();) {
      if (it->done->load()) {
        it->thread.join();
        it = workers.erase(it);
      } else {
        ++it;
      }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers.push_back({std::thread([this, fd, done] {
                         Serve(fd);
                         done->store(true);
                       }),
                       done});
  }
}

ScriptedServer::ScriptedServer() : ScriptedServer(Options{}) {}

ScriptedServer::ScriptedServer(Options options) : state_(std::make_shared<State>()) {
  signal(SIGPIPE, SIG_IGN);
  State& s = *state_;
  s.options = std::move(options);
  if (s.options.tls) {
    // One certificate serves every TLS server of the process (an RSA key takes a while).
    static const TlsCertificate certificate = MakeSelfSignedCertificate();
    s.tls = SSL_CTX_new(TLS_server_method());
    BIO* cert_bio = BIO_new_mem_buf(certificate.certificate_pem.data(),
                                    static_cast<int>(certificate.certificate_pem.size()));
    BIO* key_bio = BIO_new_mem_buf(certificate.private_key_pem.data(),
                                   static_cast<int>(certificate.private_key_pem.size()));
    X509* cert = PEM_read_bio_X509(cert_bio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(key_bio, nullptr, nullptr, nullptr);
    bool ok = cert && key && SSL_CTX_use_certificate(s.tls, cert) == 1 &&
              SSL_CTX_use_PrivateKey(s.tls, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(cert_bio);
    BIO_free(key_bio);
    if (!ok) {
      SSL_CTX_free(s.tls);
      throw std::runtime_error("scripted server: cannot load the certificate");
    }
  }

  s.listen_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(s.listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = 0;
  if (inet_pton(AF_INET, s.options.address.c_str(), &address.sin_addr) != 1 ||
      bind(s.listen_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s.listen_fd, 128) != 0) {
    close(s.listen_fd);
    if (s.tls) SSL_CTX_free(s.tls);
    throw std::runtime_error("scripted server: cannot listen on " + s.options.address);
  }
  socklen_t length = sizeof address;
  getsockname(s.listen_fd, reinterpret_cast<sockaddr*>(&address), &length);
  s.port = ntohs(address.sin_port);
  s.acceptor = std::thread([&s] { s.AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

void ScriptedServer::Stop() {
  State& s = *state_;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.stopping) return;
    s.stopping = true;
    s.changed.notify_all();
    for (int fd : s.open_fds) shutdown(fd, SHUT_RDWR);
  }
  shutdown(s.listen_fd, SHUT_RDWR);
  if (s.acceptor.joinable()) s.acceptor.join();
  close(s.listen_fd);
  for (auto& worker : s.workers) worker.thread.join();
  s.workers.clear();
  if (s.tls) SSL_CTX_free(s.tls);
  s.tls = nullptr;
}

const std::string& ScriptedServer::address() const { return state_->options.address; }
int ScriptedServer::port() const { return state_->port; }

std::string ScriptedServer::HostPort() const {
  return state_->options.address + ":" + std::to_string(state_->port);
}

std::string ScriptedServer::BaseUrl() const {
  return std::string(state_->options.tls ? "https://" : "http://") + HostPort();
}

void ScriptedServer::Push(Reply reply) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->queue.push_back(std::move(reply));
}

void ScriptedServer::SetDefault(Reply reply) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->default_reply = std::move(reply);
}

void ScriptedServer::SetHandler(std::function<Reply(const RecordedRequest&)> handler) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->handler = std::move(handler);
}

std::vector<RecordedRequest> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests;
}

std::size_t ScriptedServer::RequestCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->requests.size();
}

std::size_t ScriptedServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->connections;
}

bool ScriptedServer::WaitForRequests(std::size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&] { return state_->requests.size() >= count; });
}

}  // namespace vemtu::test
