// One send of one request: the caller hands over the body chunk by chunk and then waits
// for and reads the reply, and each of these calls runs the transfer on the caller's
// thread (curl's multi interface) until it has what it waits for. Memory stays
// bounded: at most kQueueLimit body bytes wait for curl, at most kReplyLimit reply
// bytes wait for the caller.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "failure.h"
#include "socket_tracker.h"

namespace vemtu::inet {

// For tests only: the environment variable that names a PEM file of certificates to
// trust besides the system's bundle, so that a test can trust a CA it made without
// changing the machine. Products never set it.
constexpr const char* kTestCaFileVariable = "VEMTU_TEST_CA_FILE";

constexpr std::chrono::steady_clock::time_point kNoDeadline =
    std::chrono::steady_clock::time_point::max();

enum class ProxyMode {
  kNone,         // straight to the server, whatever the environment says
  kEnvironment,  // http_proxy / https_proxy / no_proxy, as curl reads them
  kNamed,        // the proxy in ExchangeSettings::proxy_url
};

// Credentials for one target (server or proxy); `scheme` is a CURLAUTH_* mask, 0 = none.
struct Credentials {
  unsigned long scheme = 0;
  std::string user;
  std::string password;
};

struct ExchangeSettings {
  std::string url;             // scheme://host:port/object
  // Sent on the request line exactly as given (no dot-segment or fragment handling);
  // empty: the path of `url`. Absolute-form requests to a proxy need the URL.
  std::string request_target;
  std::string method = "POST";
  bool http10 = false;         // request line says HTTP/1.0
  // Every header line after the request line, "Name: value", in the order they go out:
  // the library's own (Host, User-Agent, Content-Length...) and then the caller's.
  // Authorization lines that credentials produce go first.
  std::vector<std::string> headers;
  ProxyMode proxy_mode = ProxyMode::kNone;
  std::string proxy_url;       // "http://host:port" for kNamed
  Credentials proxy_credentials;
  Credentials server_credentials;
  std::uint32_t security_ignore = 0;  // SECURITY_FLAG_IGNORE_* bits that relax TLS checks
  std::uint32_t connect_timeout_ms = 0;  // 0: curl's own default
  std::uint64_t body_length = 0;
  // The whole body when the caller handed it over with the request: it goes out in the
  // same send as the head (when it is small), and no bytes are written afterwards.
  std::string body;
  // false: curl closes the connection as its transfer ends, instead of keeping it to be
  // checked (and found closed) at the next send.
  bool keep_connection = true;
  // The latest moment any wait of the send may end at (kNoDeadline: none).
  std::chrono::steady_clock::time_point deadline = kNoDeadline;
};

class Exchange {
 public:
  static constexpr std::size_t kQueueLimit = 256 * 1024;
  static constexpr std::size_t kReplyLimit = 256 * 1024;
  // A write that follows the previous one within kBurstGap is queued without being sent
  // until kBurstBytes wait: a caller writing small chunks back to back has them joined
  // into larger sends. Any other write goes out at once, and so do the queued bytes at
  // the next call that waits.
  static constexpr std::size_t kBurstBytes = 64 * 1024;
  static constexpr std::chrono::milliseconds kBurstGap{2};

  // Configures `easy` (owned by the request, idle) and adds it to `multi` (owned by the
  // request as well, which keeps the connections between sends); nothing moves until a
  // call below drives the transfer.
  Exchange(CURL* easy, CURLM* multi, SocketTracker* sockets, ExchangeSettings settings);
  ~Exchange();  // aborts the transfer and hands the handle back
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  // Waits until the connection stands (tunnel and TLS included) and the request is about
  // to go out, or the transfer has ended. A failure to connect is reported here.
  Failure AwaitConnected();
  // Hands `size` body bytes to the transfer and sends what the network takes at once
  // (see kBurstGap); waits (at most `timeout_ms` without progress, 0 = no limit) while
  // the queue is full.
  Failure Write(const char* data, std::size_t size, std::uint32_t timeout_ms);
  // Declares the body complete and waits for the reply's status line and headers.
  Failure AwaitResponse(std::uint32_t timeout_ms);
  // Reply bytes ready to read (waits for at least one, or the end); 0 at the end.
  Failure Available(std::size_t* count, std::uint32_t timeout_ms);
  // Reads up to `size` reply bytes (waits for at least one, or the end); 0 at the end.
  Failure Read(char* out, std::size_t size, std::size_t* got, std::uint32_t timeout_ms);

  // The status of the reply (0 before it arrived) and its head: the status line and the
  // header lines, each ending in CRLF, followed by an empty line.
  long Status() const;
  std::string Head() const;

  // Ends the transfer from any thread; waiting calls return kCancelled.
  void Abort();
  // Aborts, waits until no call drives the transfer and hands the curl handle back
  // idle. The calls above stay safe afterwards (they no longer touch the handle).
  void Join();

 private:
  enum class Wait { kReady, kTimedOut, kAborted };

  // Runs the transfer on the calling thread until `ready()` holds or the transfer ended,
  // it was aborted, `timeout_ms` passed without progress (0 = no limit) or the send's
  // deadline passed. With
  // `push`, the transfer takes one turn first even if `ready()` holds already.
  template <typename Ready>
  Wait Drive(std::uint32_t timeout_ms, bool push, Ready ready);
  // One turn of the transfer without waiting; records its end.
  void Perform();
  // Resumes the directions paused for want of body bytes or of reply room that now have them.
  void Resume();
  // Records the end of the transfer with curl's result.
  void Finish(CURLcode code);
  // After a send or receive failure before any reply: an answer the peer sent before it
  // reset the connection, read from what the socket still held. It becomes the reply.
  void TakeEarlyAnswer(CURLcode code);
  // The reply stands if it was complete after the whole body went out, or if it is a
  // refusal (a server or proxy may refuse before reading the whole body).
  bool ResponseReady() const;
  // The settings hold the whole body (see ExchangeSettings::body).
  bool BodyGiven() const {
    return settings_.body_length > 0 && settings_.body.size() == settings_.body_length;
  }
  Failure EndFailure() const;
  // What a wait that did not reach its goal reports; a time-out also ends the transfer.
  Failure Interrupted(Wait wait);
  void Touch() { last_activity_ = std::chrono::steady_clock::now(); }

  static size_t OnRead(char* buffer, size_t size, size_t count, void* self);
  // Rewinds the body to its start while the bytes taken so far are kept (see taken_).
  static int OnSeek(void* self, curl_off_t offset, int origin);
  static size_t OnWrite(char* data, size_t size, size_t count, void* self);
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  static int OnPrereq(void* self, char*, char*, int, int);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  static curl_socket_t OnOpenSocket(void* sockets, curlsocktype, curl_sockaddr* address);
  static int OnCloseSocket(void* sockets, curl_socket_t fd);
  static CURLcode OnSslContext(CURL*, void* ssl_ctx, void* self);

  CURL* easy_;
  CURLM* multi_;
  SocketTracker* sockets_;
  ExchangeSettings settings_;
  curl_slist* header_list_ = nullptr;
  std::string extra_ca_file_;  // kTestCaFileVariable's file, empty when not set

  // Held by the thread that drives the transfer: curl's handles serve one thread at a time.
  std::mutex drive_mutex_;
  bool added_ = false;         // easy_ is in multi_
  bool send_paused_ = false;   // curl asked for body bytes while none were queued
  bool receive_paused_ = false;  // reply bytes came while the reply buffer was full

  // What other threads see: Abort, Status and Head may come from any thread.
  mutable std::mutex mutex_;
  bool aborted_ = false;
  bool timed_out_ = false;     // a caller's wait ran out and ended the transfer
  bool connected_ = false;
  bool body_closed_ = false;   // the caller declared the body complete
  bool body_sent_ = false;     // curl wrote the whole declared body to the connection
  bool finished_ = false;      // curl ended the transfer
  CURLcode result_ = CURLE_OK;
  long verify_result_ = 0;
  bool reset_by_peer_ = false;
  char error_text_[CURL_ERROR_SIZE];
  std::chrono::steady_clock::time_point last_activity_;
  std::chrono::steady_clock::time_point last_write_;  // when the previous Write returned

  // Body bytes handed over by the caller and not yet taken by curl.
  std::deque<std::string> queue_;
  std::size_t queue_offset_ = 0;  // bytes of queue_.front() already taken
  std::size_t queued_bytes_ = 0;
  // Body bytes curl has taken, kept while they are few: a kept-alive connection that the
  // server closed meanwhile makes curl send the request again on a new one, from the
  // body's start. A larger body that meets a closed connection fails instead.
  static constexpr std::size_t kRewindLimit = 64 * 1024;
  std::string taken_;
  bool rewindable_ = true;
  std::size_t replay_offset_ = 0;  // bytes of taken_ handed out (again) so far
  std::uint64_t accepted_ = 0;    // body bytes accepted from the caller

  // Reply: the head being read, the last complete final head, and the body bytes.
  std::string head_in_progress_;
  long status_in_progress_ = 0;
  std::string head_;
  long status_ = 0;
  bool body_started_ = false;
  std::string reply_;
  std::size_t reply_offset_ = 0;
  std::uint64_t reply_received_ = 0;  // body bytes of the final reply so far

  std::mutex join_mutex_;
  bool joined_ = false;
};

}  // namespace vemtu::inet
