#include "exchange.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

#include "response_head.h"
#include "windows_types.h"

namespace vemtu::inet {

namespace {

// ---- TLS checks that a caller relaxed ----

int SecurityIndex() {
  static int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// Accepts the certificate errors whose SECURITY_FLAG_IGNORE_* bit is set on the
// context, clearing them so that the final verification result reads "OK".
int VerifyRelaxed(int preverified, X509_STORE_CTX* store) {
  if (preverified) return 1;
  auto* ssl = static_cast<SSL*>(
      X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
  auto flags = static_cast<std::uint32_t>(
      reinterpret_cast<std::uintptr_t>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), SecurityIndex())));
  bool ignore = false;
  switch (X509_STORE_CTX_get_error(store)) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
      ignore = flags & SECURITY_FLAG_IGNORE_UNKNOWN_CA;
      break;
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_CERT_HAS_EXPIRED:
      ignore = flags & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
      break;
    case X509_V_ERR_INVALID_PURPOSE:
      ignore = flags & SECURITY_FLAG_IGNORE_WRONG_USAGE;
      break;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
    case X509_V_ERR_CERT_REVOKED:
      ignore = flags & SECURITY_FLAG_IGNORE_REVOCATION;
      break;
    default:
      break;
  }
  if (!ignore) return 0;
  X509_STORE_CTX_set_error(store, X509_V_OK);
  return 1;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

void SetSocketCallbacks(CURL* easy, SocketTracker* sockets,
                        curl_opensocket_callback open, curl_closesocket_callback close) {
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, open);
  curl_easy_setopt(easy, CURLOPT_OPENSOCKETDATA, sockets);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, close);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, sockets);
}

}  // namespace

// ---- Setting up and running the transfer ----

Exchange::Exchange(CURL* easy, CURLM* multi, SocketTracker* sockets, ExchangeSettings settings)
    : easy_(easy), multi_(multi), sockets_(sockets), settings_(std::move(settings)) {
  Touch();
  error_text_[0] = '\0';
  body_sent_ = settings_.body_length == 0;
  sockets_->Reset();
  curl_easy_reset(easy_);
  SetSocketCallbacks(easy_, sockets_, &Exchange::OnOpenSocket, &Exchange::OnCloseSocket);
  curl_easy_setopt(easy_, CURLOPT_URL, settings_.url.c_str());
  curl_easy_setopt(easy_, CURLOPT_PATH_AS_IS, 1L);
  if (!settings_.request_target.empty()) {
    curl_easy_setopt(easy_, CURLOPT_REQUEST_TARGET, settings_.request_target.c_str());
  }
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_text_);
  curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION,
                   settings_.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1);

  if (settings_.method == "GET" && settings_.body_length == 0) {
    curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
  } else if (settings_.method == "HEAD") {
    curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(easy_, CURLOPT_POST, 1L);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(settings_.body_length));
    curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &Exchange::OnRead);
    curl_easy_setopt(easy_, CURLOPT_READDATA, this);
    curl_easy_setopt(easy_, CURLOPT_SEEKFUNCTION, &Exchange::OnSeek);
    curl_easy_setopt(easy_, CURLOPT_SEEKDATA, this);
    if (settings_.method != "POST") {
      curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, settings_.method.c_str());
    }
  }
  // Only the headers of the settings, in their order: no form content type, no Accept
  // line, no "Proxy-Connection" through a proxy, and no "Expect: 100-continue" (a server
  // or proxy that refuses expectations answers 417, and the body then never arrives).
  // curl leaves out its own User-Agent and Content-Length when the settings hold them;
  // its Host line, which it would put first, is cleared so that the settings' one goes
  // out in its place.
  for (const char* line : {"Host:", "Content-Type:", "Accept:", "Expect:", "Proxy-Connection:"}) {
    header_list_ = curl_slist_append(header_list_, line);
  }
  // A scheme that takes more than one pass (Digest, NTLM, Negotiate) first sends the
  // request without its body: curl then writes the Content-Length itself.
  const unsigned long multi_pass = ~static_cast<unsigned long>(CURLAUTH_BASIC);
  const bool curl_length = (settings_.proxy_credentials.scheme & multi_pass) != 0 ||
                           (settings_.server_credentials.scheme & multi_pass) != 0;
  for (const auto& line : settings_.headers) {
    if (curl_length && StartsWith(line, "Content-Length:")) continue;
    header_list_ = curl_slist_append(header_list_, line.c_str());
  }
  curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, header_list_);

  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Exchange::OnHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Exchange::OnWrite);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &Exchange::OnPrereq);
  curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
  curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &Exchange::OnProgress);
  curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
  curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);

  switch (settings_.proxy_mode) {
    case ProxyMode::kNone:
      curl_easy_setopt(easy_, CURLOPT_PROXY, "");
      break;
    case ProxyMode::kNamed:
      curl_easy_setopt(easy_, CURLOPT_PROXY, settings_.proxy_url.c_str());
      curl_easy_setopt(easy_, CURLOPT_NOPROXY, "");
      break;
    case ProxyMode::kEnvironment:
      break;
  }
  if (settings_.proxy_credentials.scheme != 0) {
    curl_easy_setopt(easy_, CURLOPT_PROXYAUTH, settings_.proxy_credentials.scheme);
    curl_easy_setopt(easy_, CURLOPT_PROXYUSERNAME, settings_.proxy_credentials.user.c_str());
    curl_easy_setopt(easy_, CURLOPT_PROXYPASSWORD, settings_.proxy_credentials.password.c_str());
  }
  if (settings_.server_credentials.scheme != 0) {
    curl_easy_setopt(easy_, CURLOPT_HTTPAUTH, settings_.server_credentials.scheme);
    curl_easy_setopt(easy_, CURLOPT_USERNAME, settings_.server_credentials.user.c_str());
    curl_easy_setopt(easy_, CURLOPT_PASSWORD, settings_.server_credentials.password.c_str());
  }

  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
  // Every new connection makes a full TLS handshake, as it did before curl handles were
  // reused: handles kept from earlier requests must not change what goes on the wire.
  curl_easy_setopt(easy_, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST,
                   (settings_.security_ignore & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
  if (const char* file = std::getenv(kTestCaFileVariable)) extra_ca_file_ = file;
  if ((settings_.security_ignore & ~std::uint32_t{SECURITY_FLAG_IGNORE_CERT_CN_INVALID}) ||
      !extra_ca_file_.empty()) {
    curl_easy_setopt(easy_, CURLOPT_SSL_CTX_FUNCTION, &Exchange::OnSslContext);
    curl_easy_setopt(easy_, CURLOPT_SSL_CTX_DATA, this);
  }
  if (settings_.connect_timeout_ms > 0) {
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(settings_.connect_timeout_ms));
  }

  added_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
  if (!added_) {
    finished_ = true;
    result_ = CURLE_OUT_OF_MEMORY;
  }
}

Exchange::~Exchange() {
  int saved_errno = errno;  // the caller's error survives the clean-up
  Join();
  errno = saved_errno;
}

void Exchange::Join() {
  std::lock_guard<std::mutex> lock(join_mutex_);
  if (joined_) return;
  Abort();
  // A call driving the transfer on another thread sees the abort and leaves.
  std::lock_guard<std::mutex> driving(drive_mutex_);
  joined_ = true;
  if (added_) curl_multi_remove_handle(multi_, easy_);
  added_ = false;
  // Forget every pointer into this object; the multi handle keeps the connections.
  curl_easy_reset(easy_);
  SetSocketCallbacks(easy_, sockets_, &Exchange::OnOpenSocket, &Exchange::OnCloseSocket);
  // Sockets are written with MSG_NOSIGNAL: the clean-up needs no SIGPIPE handler of its own.
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_slist_free_all(header_list_);
  header_list_ = nullptr;
}

void Exchange::Abort() {
  bool running = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running = !aborted_ && !finished_;
    aborted_ = true;
  }
  if (!running) return;
  sockets_->ShutdownAll();
  curl_multi_wakeup(multi_);  // a caller waiting in curl_multi_poll returns at once
}

// ---- Running the transfer on the caller's thread ----

template <typename Ready>
Exchange::Wait Exchange::Drive(std::uint32_t timeout_ms, bool push, Ready ready) {
  std::lock_guard<std::mutex> driving(drive_mutex_);
  bool turned = false;  // the transfer took a turn since it last waited for the network
  if (push && !joined_) {
    Resume();
    Perform();
    turned = true;
  }
  while (true) {
    int wait_ms = 1000;  // no limit: wake now and then all the same
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (aborted_) return Wait::kAborted;
      if (finished_ || ready()) return Wait::kReady;
      auto deadline = settings_.deadline;
      if (timeout_ms > 0) {
        deadline = std::min(deadline, last_activity_ + std::chrono::milliseconds(timeout_ms));
      }
      if (deadline != kNoDeadline) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Wait::kTimedOut;
        wait_ms = static_cast<int>(std::min<long long>(left.count(), wait_ms));
      }
    }
    if (turned) {
      curl_multi_poll(multi_, nullptr, 0, wait_ms, nullptr);
    }
    Resume();
    Perform();
    turned = true;
  }
}

void Exchange::Perform() {
  int running = 0;
  curl_multi_perform(multi_, &running);
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
      Finish(message->data.result);
    }
  }
}

void Exchange::Resume() {
  bool send = false;
  bool receive = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    send = send_paused_ && (!queue_.empty() || body_closed_);
    receive = receive_paused_ && reply_.size() - reply_offset_ < kReplyLimit;
  }
  if (!send && !receive) return;
  if (send) send_paused_ = false;
  if (receive) receive_paused_ = false;
  // Resuming the reply may hand over the bytes curl kept at once (OnWrite runs inside).
  curl_easy_pause(easy_,
                  (send_paused_ ? CURLPAUSE_SEND : 0) | (receive_paused_ ? CURLPAUSE_RECV : 0));
}

void Exchange::Finish(CURLcode code) {
  TakeEarlyAnswer(code);
  long verify = 0;
  curl_easy_getinfo(easy_, CURLINFO_SSL_VERIFYRESULT, &verify);
  long status = 0;
  curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
  curl_off_t uploaded = 0;
  curl_easy_getinfo(easy_, CURLINFO_SIZE_UPLOAD_T, &uploaded);
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  if (static_cast<std::uint64_t>(uploaded) >= settings_.body_length) body_sent_ = true;
  result_ = code;
  verify_result_ = verify;
  reset_by_peer_ = std::strstr(error_text_, "reset by peer") != nullptr;
  if (code == CURLE_OK && status_ == 0) status_ = status;
  Touch();
}

void Exchange::TakeEarlyAnswer(CURLcode code) {
  std::string unread = sockets_->TakeUnread();
  if (code != CURLE_SEND_ERROR && code != CURLE_RECV_ERROR && code != CURLE_GOT_NOTHING) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (aborted_ || status_ != 0 || !head_in_progress_.empty()) return;
  }
  std::size_t head_end = unread.find("\r\n\r\n");
  if (!StartsWith(unread, "HTTP/1.") || head_end == std::string::npos) return;
  std::size_t at = 0;
  while (at <= head_end) {
    std::size_t end = unread.find("\r\n", at);
    OnHeader(&unread[at], 1, end + 2 - at, this);
    at = end + 2;
  }
  OnHeader(&unread[at], 1, 2, this);  // the empty line that ends the head
  at += 2;
  std::lock_guard<std::mutex> lock(mutex_);
  if (status_ < 300) {  // only a refusal stands without the body having gone out
    status_ = 0;
    head_.clear();
    return;
  }
  bool announced = false;
  std::string length = HeaderValue(head_, "Content-Length", &announced);
  std::size_t size = unread.size() - at;
  if (announced) size = std::min<std::size_t>(size, std::strtoull(length.c_str(), nullptr, 10));
  reply_.append(unread, at, size);
  reply_received_ += size;
  body_started_ = true;
}

// ---- curl's callbacks (on the thread that drives the transfer) ----

size_t Exchange::OnRead(char* buffer, size_t size, size_t count, void* self) {
  auto& x = *static_cast<Exchange*>(self);
  std::lock_guard<std::mutex> lock(x.mutex_);
  if (x.aborted_) return CURL_READFUNC_ABORT;
  // After a rewind, the bytes taken before go out again first.
  if (x.replay_offset_ < x.taken_.size()) {
    std::size_t part = std::min(size * count, x.taken_.size() - x.replay_offset_);
    std::memcpy(buffer, x.taken_.data() + x.replay_offset_, part);
    x.replay_offset_ += part;
    x.Touch();
    return part;
  }
  if (x.queue_.empty()) {
    if (!x.body_closed_) {
      x.send_paused_ = true;  // resumed when the caller hands over more
      return CURL_READFUNC_PAUSE;
    }
    // The caller ended the body before handing over all it declared.
    return x.accepted_ < x.settings_.body_length ? CURL_READFUNC_ABORT : 0;
  }
  // Whatever is queued, up to curl's buffer: a caller that pauses between writes has
  // one chunk queued at a time, so its chunks go out one by one as written.
  std::size_t room = size * count;
  std::size_t take = 0;
  while (take < room && !x.queue_.empty()) {
    const std::string& front = x.queue_.front();
    std::size_t part = std::min(room - take, front.size() - x.queue_offset_);
    std::memcpy(buffer + take, front.data() + x.queue_offset_, part);
    take += part;
    x.queue_offset_ += part;
    if (x.queue_offset_ == front.size()) {
      x.queue_.pop_front();
      x.queue_offset_ = 0;
    }
  }
  x.queued_bytes_ -= take;
  if (x.rewindable_ && x.taken_.size() + take <= kRewindLimit) {
    x.taken_.append(buffer, take);
  } else {
    x.rewindable_ = false;
    std::string().swap(x.taken_);
  }
  x.replay_offset_ = x.taken_.size();
  x.Touch();
  return take;
}

int Exchange::OnSeek(void* self, curl_off_t offset, int origin) {
  auto& x = *static_cast<Exchange*>(self);
  std::lock_guard<std::mutex> lock(x.mutex_);
  if (offset != 0 || origin != SEEK_SET || !x.rewindable_) return CURL_SEEKFUNC_CANTSEEK;
  x.replay_offset_ = 0;
  x.body_sent_ = x.settings_.body_length == 0;  // the body goes out again, whole or not
  return CURL_SEEKFUNC_OK;
}

size_t Exchange::OnWrite(char* data, size_t size, size_t count, void* self) {
  auto& x = *static_cast<Exchange*>(self);
  std::size_t bytes = size * count;
  std::lock_guard<std::mutex> lock(x.mutex_);
  x.body_started_ = true;
  x.Touch();
  if (x.aborted_) return 0;
  if (x.reply_.size() - x.reply_offset_ >= kReplyLimit) {
    x.receive_paused_ = true;  // curl keeps the bytes until the reader makes room
    return CURL_WRITEFUNC_PAUSE;
  }
  if (x.reply_offset_ > 0 && x.reply_offset_ * 2 >= x.reply_.size()) {
    x.reply_.erase(0, x.reply_offset_);
    x.reply_offset_ = 0;
  }
  x.reply_.append(data, bytes);
  x.reply_received_ += bytes;
  return bytes;
}

size_t Exchange::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto& x = *static_cast<Exchange*>(self);
  std::size_t bytes = size * count;
  std::string line(data, bytes);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::lock_guard<std::mutex> lock(x.mutex_);
  x.Touch();
  if (StartsWith(line, "HTTP/")) {
    x.reply_received_ = 0;
    x.head_in_progress_ = line + "\r\n";
    std::size_t space = line.find(' ');
    x.status_in_progress_ = space == std::string::npos ? 0 : std::strtol(line.c_str() + space + 1, nullptr, 10);
  } else if (line.empty()) {
    // The end of a head: informational heads (1xx) and trailers are not the reply.
    if (x.status_in_progress_ >= 200) {
      x.head_ = x.head_in_progress_ + "\r\n";
      x.status_ = x.status_in_progress_;
    }
    x.head_in_progress_.clear();
    x.status_in_progress_ = 0;
  } else {
    x.head_in_progress_ += line + "\r\n";
  }
  return bytes;
}

int Exchange::OnPrereq(void* self, char*, char*, int, int) {
  auto& x = *static_cast<Exchange*>(self);
  std::lock_guard<std::mutex> lock(x.mutex_);
  x.connected_ = true;
  x.Touch();
  return CURL_PREREQFUNC_OK;
}

int Exchange::OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent) {
  auto& x = *static_cast<Exchange*>(self);
  std::lock_guard<std::mutex> lock(x.mutex_);
  if (static_cast<std::uint64_t>(sent) >= x.settings_.body_length) x.body_sent_ = true;
  return x.aborted_ ? 1 : 0;
}

curl_socket_t Exchange::OnOpenSocket(void* sockets, curlsocktype, curl_sockaddr* address) {
  int fd = static_cast<SocketTracker*>(sockets)->Open(address->family, address->socktype,
                                                      address->protocol);
  return fd < 0 ? CURL_SOCKET_BAD : fd;
}

int Exchange::OnCloseSocket(void* sockets, curl_socket_t fd) {
  static_cast<SocketTracker*>(sockets)->Close(fd);
  return 0;
}

CURLcode Exchange::OnSslContext(CURL*, void* ssl_ctx, void* self) {
  auto& x = *static_cast<Exchange*>(self);
  auto* context = static_cast<SSL_CTX*>(ssl_ctx);
  if (!x.extra_ca_file_.empty() &&
      X509_STORE_load_file(SSL_CTX_get_cert_store(context), x.extra_ca_file_.c_str()) != 1) {
    return CURLE_SSL_CACERT_BADFILE;
  }
  if (x.settings_.security_ignore & ~std::uint32_t{SECURITY_FLAG_IGNORE_CERT_CN_INVALID}) {
    SSL_CTX_set_ex_data(context, SecurityIndex(),
                        reinterpret_cast<void*>(std::uintptr_t{x.settings_.security_ignore}));
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, &VerifyRelaxed);
  }
  return CURLE_OK;
}

// ---- The caller's side ----

Failure Exchange::Interrupted(Wait wait) {
  if (wait == Wait::kTimedOut) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      timed_out_ = true;
    }
    Abort();
    return Failure::kTimeout;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return timed_out_ ? Failure::kTimeout : Failure::kCancelled;
}

bool Exchange::ResponseReady() const {
  // A refusal stands whenever it came, even if the connection failed after it: a server
  // or a proxy may refuse a request (401, 407, 413...) without reading its body.
  if (status_ >= 300) return finished_ ? result_ == CURLE_OK || !aborted_ : body_started_;
  // Any other answer stands only once the whole body went out: a server that answers
  // "1" and stops reading has not received the file.
  if (!body_sent_) return false;
  return finished_ ? result_ == CURLE_OK && status_ > 0 : body_started_;
}

Failure Exchange::EndFailure() const {
  // The transfer ended with an answer but without the whole body: the send failed,
  // whatever the answer said.
  if (status_ > 0 && status_ < 300 && !body_sent_ && (result_ == CURLE_OK || result_ == CURLE_SEND_ERROR ||
                                     result_ == CURLE_RECV_ERROR)) {
    return Failure::kConnectionAborted;
  }
  switch (result_) {
    case CURLE_OK:
      return Failure::kNone;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return Failure::kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return Failure::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return Failure::kTimeout;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return reset_by_peer_ ? Failure::kConnectionReset : Failure::kConnectionAborted;
    case CURLE_PARTIAL_FILE:
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_READ_ERROR:
      return Failure::kConnectionAborted;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return Failure::kInvalidResponse;
    case CURLE_PEER_FAILED_VERIFICATION:
      if (verify_result_ == X509_V_ERR_CERT_HAS_EXPIRED ||
          verify_result_ == X509_V_ERR_CERT_NOT_YET_VALID) {
        return Failure::kCertificateDate;
      }
      if (verify_result_ == X509_V_OK || verify_result_ == X509_V_ERR_HOSTNAME_MISMATCH ||
          verify_result_ == X509_V_ERR_IP_ADDRESS_MISMATCH) {
        return Failure::kCertificateName;
      }
      return Failure::kUnknownAuthority;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
      return Failure::kSecureChannel;
    case CURLE_OUT_OF_MEMORY:
      return Failure::kOutOfMemory;
    case CURLE_URL_MALFORMAT:
      return Failure::kInvalidUrl;
    case CURLE_LOGIN_DENIED:
    case CURLE_AUTH_ERROR:
      return Failure::kLoginFailure;
    case CURLE_SEND_FAIL_REWIND:
      return Failure::kResend;
    default:
      return Failure::kInternal;
  }
}

Failure Exchange::AwaitConnected() {
  Wait wait = Drive(0, false, [&] { return connected_; });
  if (wait != Wait::kReady) return Interrupted(wait);
  std::lock_guard<std::mutex> lock(mutex_);
  if (finished_ && !ResponseReady()) return EndFailure();
  return Failure::kNone;
}

Failure Exchange::Write(const char* data, std::size_t size, std::uint32_t timeout_ms) {
  Wait wait = Drive(timeout_ms, false, [&] {
    return queued_bytes_ == 0 || queued_bytes_ + size <= kQueueLimit;
  });
  if (wait != Wait::kReady) return Interrupted(wait);
  bool send_now = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) {
      if (!ResponseReady()) return EndFailure();
      accepted_ += size;  // the reply is in; the rest of the body is not needed
      return Failure::kNone;
    }
    if (size == 0) return Failure::kNone;
    queue_.emplace_back(data, size);
    queued_bytes_ += size;
    accepted_ += size;
    send_now = queued_bytes_ >= kBurstBytes ||
               std::chrono::steady_clock::now() - last_write_ >= kBurstGap;
  }
  // What the network takes now goes out now: a caller that pauses between writes has
  // its chunks go out one by one as written.
  if (send_now) Drive(timeout_ms, true, [] { return true; });
  std::lock_guard<std::mutex> lock(mutex_);
  last_write_ = std::chrono::steady_clock::now();
  return Failure::kNone;
}

Failure Exchange::AwaitResponse(std::uint32_t timeout_ms) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    body_closed_ = true;
  }
  Wait wait = Drive(timeout_ms, false, [&] { return ResponseReady(); });
  if (wait != Wait::kReady) return Interrupted(wait);
  std::lock_guard<std::mutex> lock(mutex_);
  // A reply cut short after the whole body went out is still read as far as it came.
  if ((body_started_ && body_sent_) || ResponseReady()) return Failure::kNone;
  return EndFailure();
}

Failure Exchange::Available(std::size_t* count, std::uint32_t timeout_ms) {
  *count = 0;
  Wait wait = Drive(timeout_ms, false, [&] { return reply_.size() > reply_offset_; });
  if (wait != Wait::kReady) return Interrupted(wait);
  std::lock_guard<std::mutex> lock(mutex_);
  *count = reply_.size() - reply_offset_;
  if (*count > 0 || result_ == CURLE_OK || ResponseReady()) return Failure::kNone;
  return EndFailure();
}

Failure Exchange::Read(char* out, std::size_t size, std::size_t* got,
                       std::uint32_t timeout_ms) {
  *got = 0;
  Wait wait = Drive(timeout_ms, false, [&] { return reply_.size() > reply_offset_ || size == 0; });
  if (wait != Wait::kReady) return Interrupted(wait);
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t ready = reply_.size() - reply_offset_;
  if (ready > 0 || size == 0) {
    *got = std::min(ready, size);
    std::memcpy(out, reply_.data() + reply_offset_, *got);
    reply_offset_ += *got;
    return Failure::kNone;
  }
  if (result_ == CURLE_OK || ResponseReady()) return Failure::kNone;
  return EndFailure();
}

long Exchange::Status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::string Exchange::Head() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return head_;
}

}  // namespace vemtu::inet
