// Driving an exchange on the caller's thread and the calls the caller waits in.
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "exchange.h"
#include "response_head.h"

namespace vemtu::inet {

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
  long os_error = 0;
  curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &os_error);
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  if (static_cast<std::uint64_t>(uploaded) >= settings_.body_length) body_sent_ = true;
  result_ = code;
  verify_result_ = verify;
  // curl names a reset in its text, except one met while it checks a new connection.
  reset_by_peer_ = std::strstr(error_text_, "reset by peer") != nullptr || os_error == ECONNRESET;
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
      // A peer that accepted the connection and reset it at once did not refuse it.
      return reset_by_peer_ ? Failure::kConnectionAborted : Failure::kCannotConnect;
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
