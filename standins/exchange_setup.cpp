// Setting an exchange up: curl's options from the settings (headers, proxy,
// credentials, TLS checks and the relaxations a caller asked for), and handing the curl
// handle back idle when the exchange ends.
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "exchange.h"
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
  if (!settings_.keep_connection) curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
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
    if (BodyGiven()) {
      // curl puts a body it holds whole behind the head in one send.
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, settings_.body.data());
      accepted_ = settings_.body_length;
    } else {
      curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &Exchange::OnRead);
      curl_easy_setopt(easy_, CURLOPT_READDATA, this);
      curl_easy_setopt(easy_, CURLOPT_SEEKFUNCTION, &Exchange::OnSeek);
      curl_easy_setopt(easy_, CURLOPT_SEEKDATA, this);
    }
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

}  // namespace vemtu::inet
