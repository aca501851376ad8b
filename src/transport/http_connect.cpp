#include "transport/http_connect.h"

#include <atomic>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "transport/body_source.h"
#include "transport/reply_buffer.h"
#include "transport/reply_reader.h"
#include "transport/request_text.h"
#include "transport/sdk_wininet.h"
#include "transport/web_post_job.h"

namespace vemtu {

namespace {

constexpr const char kDefaultAgent[] = "Microsoft Internet Explorer";
constexpr const char kDefaultScheme[] = "HTTP";
constexpr int kForcedRetries = 3;

constexpr DWORD kPlainFlags =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
constexpr DWORD kSecureFlags = kPlainFlags | INTERNET_FLAG_SECURE |
                               INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
                               INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
// The secure request of an operator who asked for the certificate checks.
constexpr DWORD kCheckedSecureFlags = kPlainFlags | INTERNET_FLAG_SECURE;
static_assert(kPlainFlags == 0x84400000u, "plain request flags");
static_assert(kSecureFlags == 0x84C03000u, "secure request flags");

std::uint32_t LastCode() { return static_cast<std::uint32_t>(platform::LastError()); }
const char* OrEmpty(const char* text) { return text ? text : ""; }

// Gives the session (and so every handle opened under it) connect, send and receive
// time-outs no longer than the step's, so that a blocked call ends by itself soon after
// the waiting side gave up on it. A shorter time-out the library already has stays.
void BoundLibraryTimeouts(HINTERNET session, unsigned long step_ms) {
  if (step_ms == 0 || step_ms >= 0xFFFFFFFFUL) return;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    DWORD current = 0;
    DWORD size = sizeof current;
    if (InternetQueryOptionA(session, option, &current, &size) && current != 0 &&
        current <= step_ms) {
      continue;
    }
    DWORD bound = static_cast<DWORD>(step_ms);
    InternetSetOptionA(session, option, &bound, sizeof bound);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Handles shared between the connection and its workers
// ---------------------------------------------------------------------------

struct CZHTTPConnect::Handles : ExchangeState {
  // Atomic: on a time-out the waiting side closes them while the late worker may still
  // read them; a worker that reads null afterwards fails its call at once.
  std::atomic<HINTERNET> session{nullptr};
  std::atomic<HINTERNET> connection{nullptr};
  std::atomic<HINTERNET> request{nullptr};
  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() { Close(); }

  // Closes every handle still open, children before their parent. Closing a handle that
  // a worker is blocked on ends that call, so the worker comes back on its own.
  void Close() {
    for (std::atomic<HINTERNET>* handle : {&request, &connection, &session}) {
      if (HINTERNET open = handle->exchange(nullptr)) InternetCloseHandle(open);
    }
  }
};

namespace {

using Handles = CZHTTPConnect::Handles;
using WebPostJob = WebPostJobBase<Handles>;

// Streams the body and reads the reply. Failures are recorded in the owner.
void WebPostWorker(WebPostJob& job) {
  Handles& h = *job.owner;
  std::unique_ptr<char[]> chunk(new (std::nothrow) char[kChunkBufferSize]());
  if (!chunk) return;
  BodySource body(job.body_file_path, job.prefix,
                  std::string_view(job.body_text.data(), job.body_text.size()), job.suffix);
  if (job.held_body.file) body.UseHeldBody(job.held_body);
  int retries = 0;
  for (;;) {
    std::uint32_t error = 0;
    std::uint32_t declared = 0;
    if (!body.Start(declared, error)) {
      h.Record(error);
      return;
    }
    INTERNET_BUFFERSA buffers_in;
    std::memset(&buffers_in, 0, sizeof buffers_in);
    buffers_in.dwStructSize = sizeof buffers_in;
    buffers_in.dwBufferTotal = declared;
    if (!HttpSendRequestExA(h.request, &buffers_in, nullptr, HSR_INITIATE, 0)) {
      h.Record(LastCode());
      return;
    }
    if (declared > 0) {
      for (;;) {
        if (h.abandoned.load()) return;
        long long n = body.Fill(chunk.get(), kWinInetChunkSize, error);
        if (n < 0) {
          h.Record(error);
          return;
        }
        if (n > 0) {
          DWORD written = 0;
          if (!InternetWriteFile(h.request, chunk.get(), static_cast<DWORD>(n), &written)) {
            h.Record(LastCode());
            break;  // the request is still ended
          }
        }
        if (static_cast<std::size_t>(n) != kWinInetChunkSize) break;
      }
    }
    if (!HttpEndRequestA(h.request, nullptr, 0, 0)) {
      std::uint32_t code = LastCode();
      if (code == ERROR_INTERNET_FORCE_RETRY && retries < kForcedRetries) {
        ++retries;
        h.Record(0);
        continue;
      }
      h.Record(code);
      return;
    }
    break;
  }
  body.Close();
  DWORD status = 0;
  DWORD status_size = sizeof status;
  if (!HttpQueryInfoA(h.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &status_size, nullptr)) {
    status = 0;
  }
  if (status >= 300) h.RecordFirst(status);
  ReadReply(
      job.reply_file_path, job.reply, chunk.get(), kWinInetChunkSize, h.last_error, h.abandoned,
      [&h] {
        DWORD available = 0;
        return InternetQueryDataAvailable(h.request, &available, 0, 0) != FALSE;
      },
      [&h](char* buffer, std::size_t size, std::uint32_t& got) {
        DWORD read = 0;
        BOOL ok = InternetReadFile(h.request, buffer, static_cast<DWORD>(size), &read);
        got = read;
        return ok != FALSE;
      });
}

}  // namespace

// ---------------------------------------------------------------------------
// The connection
// ---------------------------------------------------------------------------

CZHTTPConnect::CZHTTPConnect(unsigned long timeout_ms)
    : agent_name_(kDefaultAgent), scheme_(kDefaultScheme), timeout_ms_(timeout_ms),
      handles_(std::make_shared<Handles>()) {}

CZHTTPConnect::~CZHTTPConnect() { ZReset(); }

void CZHTTPConnect::RecordLastError(std::uint32_t code) { handles_->Record(code); }

std::uint32_t CZHTTPConnect::ZGetLastError() const { return handles_->last_error.load(); }

bool CZHTTPConnect::RunStep(std::function<void()> step) {
  if (kStepTimeoutOption != 0) {
    step();  // the library bounds its sends itself (set in ZHTTPWebPost)
    return true;
  }
  std::uint32_t error = 0;
  if (RunWorkerStep(std::move(step), timeout_ms_, error)) return true;
  // The worker overran: close its handles, which ends the call it is blocked in, leave
  // it to finish on its own, and go on with an empty set that carries the error.
  handles_->abandoned.store(true);
  handles_->Close();
  handles_ = std::make_shared<Handles>();
  RecordLastError(error);
  return false;
}

void CZHTTPConnect::ZReset() {
  try {
    handles_ = std::make_shared<Handles>();
    agent_name_ = kDefaultAgent;
    proxy_.Clear();
    proxy_user_name_.Clear();
    proxy_password_.Clear();
    server_name_.Clear();
    scheme_ = kDefaultScheme;
    port_ = 0;
    access_type_ = kDefaultAccessType;
  } catch (...) {
  }
}

int CZHTTPConnect::ZInternetOpen(const char* agent_name, std::uint32_t access_type,
                                 const char* proxy) {
  try {
    ZReset();
    if (agent_name && *agent_name) agent_name_ = agent_name;
    access_type_ = access_type;
    if (proxy && *proxy) proxy_ = proxy;
    HINTERNET session = InternetOpenA(agent_name_.c_str(), access_type_,
                                      proxy_.empty() ? nullptr : proxy_.c_str(), nullptr, 0);
    if (!session) {
      RecordLastError(LastCode());
      return 0;
    }
    handles_->session = session;
    BoundLibraryTimeouts(session, timeout_ms_);
    return 1;
  } catch (...) {
    RecordLastError(LastCode());
    return 0;
  }
}

int CZHTTPConnect::ZInternetConnect(const char* server_name, std::uint16_t port,
                                    const char* scheme) {
  try {
    RecordLastError(0);
    if (server_name && *server_name) server_name_ = server_name;
    if (scheme && *scheme) scheme_ = scheme;
    port_ = port;
    auto h = handles_;
    std::string server = server_name_.str();
    INTERNET_PORT server_port = port_;
    bool ran = RunStep([h, server, server_port] {
      try {
        if (HINTERNET old = h->connection.exchange(nullptr)) InternetCloseHandle(old);
        HINTERNET connection = InternetConnectA(h->session, server.c_str(), server_port,
                                                nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
        h->connection = connection;
        if (!connection) h->Record(LastCode());
      } catch (...) {
      }
    });
    return ran && handles_->connection && ZGetLastError() == 0 ? 1 : 0;
  } catch (...) {
    RecordLastError(LastCode());
    return 0;
  }
}

int CZHTTPConnect::ZHTTPOpenRequest(const char* object_name, const char* verb) {
  try {
    RecordLastError(0);
    auto h = handles_;
    std::string object;
    if (!EncodeRequestPath(OrEmpty(object_name), kEscapedRequestPathMaxChars, object)) {
      RecordLastError(ERROR_INTERNET_INVALID_URL);
      return 0;
    }
    std::string verb_text(CutText(OrEmpty(verb), 359));
    const bool secure = !EqualsIgnoreCase(scheme_.view(), "HTTP");
    const bool relaxed = secure && !check_certificates_;
    const DWORD flags = !secure ? kPlainFlags : relaxed ? kSecureFlags : kCheckedSecureFlags;
    bool ran = RunStep([h, object, verb_text, flags, relaxed] {
      try {
        if (HINTERNET old = h->request.exchange(nullptr)) InternetCloseHandle(old);
        HINTERNET request = HttpOpenRequestA(h->connection, verb_text.c_str(), object.c_str(),
                                             "HTTP/1.0", nullptr, nullptr, flags, 0);
        h->request = request;
        if (!request) {
          h->Record(LastCode());
          return;
        }
        if (relaxed) {
          DWORD security = 0;
          DWORD size = sizeof security;
          InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &security, &size);
          security |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
          InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
        }
      } catch (...) {
      }
    });
    return ran && handles_->request && ZGetLastError() == 0 ? 1 : 0;
  } catch (...) {
    RecordLastError(LastCode());
    return 0;
  }
}

int CZHTTPConnect::ZSetProxyUserPassword(const char* user_name, const char* password) {
  try {
    RecordLastError(0);
    if (user_name && *user_name) {
      proxy_user_name_ = user_name;
      if (!InternetSetOptionA(handles_->request, INTERNET_OPTION_PROXY_USERNAME,
                              const_cast<char*>(proxy_user_name_.c_str()),
                              static_cast<DWORD>(proxy_user_name_.size() + 1))) {
        RecordLastError(LastCode());
        return 0;
      }
    }
    if (password && *password) {
      proxy_password_ = password;
      if (!InternetSetOptionA(handles_->request, INTERNET_OPTION_PROXY_PASSWORD,
                              const_cast<char*>(proxy_password_.c_str()),
                              static_cast<DWORD>(proxy_password_.size() + 1))) {
        RecordLastError(LastCode());
        return 0;
      }
    }
    return 1;
  } catch (...) {
    RecordLastError(LastCode());
    return 0;
  }
}

int CZHTTPConnect::ZHTTPWebPost(const char* body_file_path, const char* reply_file_path,
                                const char* body_text, int body_length, const char* prefix,
                                const char* suffix, std::string* reply_text, int* reply_length,
                                const HeldBody* held_body) {
  try {
    RecordLastError(0);
    auto job = std::make_shared<WebPostJob>();
    job->owner = handles_;
    job->SetBody(body_file_path, reply_file_path, body_text, body_length, prefix, suffix);
    std::uint32_t error = 0;
    if (body_file_path && held_body &&
        !job->HoldBody(*held_body, kStepTimeoutOption == 0, error)) {
      RecordLastError(error);
      return 0;
    }
    if (kStepTimeoutOption != 0 && handles_->request) {
      // The send, run on this thread, ends with the time-out error at the step's time-out.
      DWORD bound = timeout_ms_ >= 0xFFFFFFFFUL ? 0 : static_cast<DWORD>(timeout_ms_);
      InternetSetOptionA(handles_->request, kStepTimeoutOption, &bound, sizeof bound);
    }
    bool ran = RunStep([job] {
      try {
        WebPostWorker(*job);
      } catch (...) {
      }
    });
    if (!ran) return 0;
    if (job->reply.size() > 0) {
      if (reply_text) reply_text->assign(job->reply.data(), job->reply.size());
      if (reply_length) *reply_length = static_cast<int>(job->reply.size());
    }
    return ZGetLastError() == 0 ? 1 : 0;
  } catch (...) {
    RecordLastError(LastCode());
    return 0;
  }
}

}  // namespace vemtu
