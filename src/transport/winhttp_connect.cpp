#include "transport/winhttp_connect.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/library.h"
#include "transport/body_source.h"
#include "transport/reply_buffer.h"
#include "transport/reply_reader.h"
#include "transport/request_text.h"
#include "transport/sdk_winhttp.h"
#include "transport/wide_text.h"
#include "transport/web_post_job.h"

namespace vemtu {

namespace {

static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR is a UTF-16 unit");

constexpr char16_t kDefaultAgent[] = u"Microsoft Internet Explorer";
constexpr char16_t kDefaultScheme[] = u"HTTP";
constexpr char16_t kLocalBypass[] = u"<local>";
constexpr char16_t kEmpty[] = u"";
constexpr std::size_t kMaxWideChars = CZWinHTTPConnect::kWideChars - 1;
constexpr std::size_t kRequestProxyChars = 259;  // a 260-character buffer with its zero
constexpr std::uint32_t kErrorProcNotFound = 127;
constexpr std::uint32_t kErrorInvalidHandle = 6;

const WCHAR* W(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }
const WCHAR* W(const std::u16string& text) { return W(text.c_str()); }

std::uint32_t LastCode() { return static_cast<std::uint32_t>(platform::LastError()); }

std::u16string Capped(const char16_t* text) {
  if (!text) return {};
  std::u16string_view view(text);
  return std::u16string(view.substr(0, kMaxWideChars));
}

bool Empty(const char16_t* text) { return text == nullptr || *text == 0; }


}  // namespace

// ---------------------------------------------------------------------------
// The bound library and the handles shared with the workers
// ---------------------------------------------------------------------------

struct CZWinHTTPConnect::Api {
  platform::Library library;
  decltype(&::WinHttpOpen) open = nullptr;
  decltype(&::WinHttpConnect) connect = nullptr;
  decltype(&::WinHttpOpenRequest) open_request = nullptr;
  decltype(&::WinHttpSetCredentials) set_credentials = nullptr;
  decltype(&::WinHttpSendRequest) send_request = nullptr;
  decltype(&::WinHttpWriteData) write_data = nullptr;
  decltype(&::WinHttpReceiveResponse) receive_response = nullptr;
  decltype(&::WinHttpQueryHeaders) query_headers = nullptr;
  decltype(&::WinHttpQueryAuthSchemes) query_auth_schemes = nullptr;
  decltype(&::WinHttpCloseHandle) close_handle = nullptr;
  decltype(&::WinHttpQueryDataAvailable) query_data_available = nullptr;
  decltype(&::WinHttpReadData) read_data = nullptr;
  decltype(&::WinHttpCrackUrl) crack_url = nullptr;
  decltype(&::WinHttpSetOption) set_option = nullptr;
  // Every entry point was found. A library that lacks some still opens sessions when it
  // has WinHttpOpen, but an exchange needs the later entries and fails without them.
  bool complete = false;

  // Resolves the entry points in order; false at the first that is missing (those
  // found before it stay set).
  bool Resolve() {
    return Bind("WinHttpOpen", open) && Bind("WinHttpConnect", connect) &&
           Bind("WinHttpOpenRequest", open_request) &&
           Bind("WinHttpSetCredentials", set_credentials) &&
           Bind("WinHttpSendRequest", send_request) && Bind("WinHttpWriteData", write_data) &&
           Bind("WinHttpReceiveResponse", receive_response) &&
           Bind("WinHttpQueryHeaders", query_headers) &&
           Bind("WinHttpQueryAuthSchemes", query_auth_schemes) &&
           Bind("WinHttpCloseHandle", close_handle) &&
           Bind("WinHttpQueryDataAvailable", query_data_available) &&
           Bind("WinHttpReadData", read_data) && Bind("WinHttpCrackUrl", crack_url) &&
           Bind("WinHttpSetOption", set_option);
  }

 private:
  template <typename F>
  bool Bind(const char* name, F& slot) {
    void* address = library.Resolve(name);
    if (!address) return false;
    slot = reinterpret_cast<F>(address);
    return true;
  }
};

struct CZWinHTTPConnect::Handles : ExchangeState {
  // Keeps the library loaded for as long as a handle from it is open.
  std::shared_ptr<const Api> api;
  // Atomic: on a time-out the waiting side closes them while the late worker may still
  // read them; a worker that reads null afterwards fails its call at once.
  std::atomic<HINTERNET> session{nullptr};
  std::atomic<HINTERNET> connection{nullptr};
  std::atomic<HINTERNET> request{nullptr};
  explicit Handles(std::shared_ptr<const Api> bound) : api(std::move(bound)) {}
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() { Close(); }

  // Closes every handle still open, children before their parent. Closing a handle that
  // a worker is blocked on ends that call, so the worker comes back on its own.
  void Close() {
    if (!api || !api->close_handle) return;
    for (std::atomic<HINTERNET>* handle : {&request, &connection, &session}) {
      if (HINTERNET open = handle->exchange(nullptr)) api->close_handle(open);
    }
  }
};

namespace {

using Api = CZWinHTTPConnect::Api;
using Handles = CZWinHTTPConnect::Handles;

struct WebPostJob : WebPostJobBase<Handles> {
  bool proxy_option = false;
  std::u16string request_proxy;  // "address:port"
  std::u16string proxy_user_name;
  std::u16string proxy_password;
  std::size_t chunk_size = CZWinHTTPConnect::kDefaultChunkSize;
  int write_delay_ms = 0;
};

// Streams the body once; false when the exchange must end (the error is recorded).
bool SendBody(WebPostJob& job, BodySource& body, std::uint32_t declared, char* chunk) {
  Handles& h = *job.owner;
  const Api& api = *h.api;
  std::uint32_t error = 0;
  if (declared > 0 && declared <= job.chunk_size && job.write_delay_ms == 0) {
    // A body of one chunk goes with the request itself: one send with its head.
    long long n = body.Fill(chunk, job.chunk_size, error);
    if (n < 0) {
      h.Record(error);
      return false;
    }
    if (!api.send_request(h.request, nullptr, 0, chunk, static_cast<DWORD>(n), declared, 0)) {
      h.Record(LastCode());
      return false;
    }
    return true;
  }
  if (!api.send_request(h.request, nullptr, 0, nullptr, 0, declared, 0)) {
    h.Record(LastCode());
    return false;
  }
  if (declared == 0) return true;
  for (;;) {
    if (h.abandoned.load()) return false;
    long long n = body.Fill(chunk, job.chunk_size, error);
    if (n < 0) {
      h.Record(error);
      return false;
    }
    if (n > 0) {
      DWORD written = 0;
      if (!api.write_data(h.request, chunk, static_cast<DWORD>(n), &written)) {
        h.Record(LastCode());
        return false;
      }
      if (job.write_delay_ms > 0) platform::SleepMs(static_cast<unsigned long>(job.write_delay_ms));
    }
    if (static_cast<std::size_t>(n) != job.chunk_size) return true;
  }
}

bool QueryAuth(const Api& api, Handles& h, DWORD& supported, DWORD& target) {
  DWORD first = 0;
  supported = 0;
  target = 0;
  if (!api.query_auth_schemes(h.request, &supported, &first, &target)) {
    h.Record(LastCode());
    return false;
  }
  return true;
}

// One exchange after another until it is done: a reply that needs no answer, or the
// second identical challenge in a row. Returns the final status, or 0 when a step failed
// (recorded).
DWORD Exchange(WebPostJob& job, char* chunk) {
  Handles& h = *job.owner;
  const Api& api = *h.api;
  BodySource body(job.body_file_path, job.prefix,
                  std::string_view(job.body_text.data(), job.body_text.size()), job.suffix);
  if (job.held_body.file) body.UseHeldBody(job.held_body);
  DWORD previous = 0;
  DWORD proxy_scheme = 0;
  for (;;) {
    if (h.abandoned.load()) return 0;
    std::uint32_t declared = 0;
    std::uint32_t error = 0;
    if (!body.Start(declared, error)) {
      h.Record(error);
      return 0;
    }
    if (job.proxy_option) {
      WCHAR name[kRequestProxyChars + 1];
      std::memset(name, 0, sizeof name);
      std::memcpy(name, job.request_proxy.data(),
                  std::min(job.request_proxy.size(), kRequestProxyChars) * sizeof(WCHAR));
      WINHTTP_PROXY_INFO info;
      std::memset(&info, 0, sizeof info);
      info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      info.lpszProxy = name;
      info.lpszProxyBypass = nullptr;
      const auto set_option = ImportedSetOption() ? ImportedSetOption() : api.set_option;
      if (!set_option(h.request, WINHTTP_OPTION_PROXY, &info, sizeof info)) {
        h.Record(LastCode());
        return 0;
      }
    }
    if (proxy_scheme != 0 &&
        !api.set_credentials(h.request, WINHTTP_AUTH_TARGET_PROXY, proxy_scheme,
                             W(job.proxy_user_name), W(job.proxy_password), nullptr)) {
      h.Record(LastCode());
      return 0;
    }
    if (!SendBody(job, body, declared, chunk)) return 0;
    if (!api.receive_response(h.request, nullptr)) {
      std::uint32_t code = LastCode();
      if (code == ERROR_WINHTTP_RESEND_REQUEST) continue;
      h.Record(code);
      return 0;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!api.query_headers(h.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           nullptr, &status, &size, nullptr)) {
      h.Record(LastCode());
      return 0;
    }
    bool done = true;
    DWORD supported = 0;
    DWORD target = 0;
    if (status == 401) {
      if (!QueryAuth(api, h, supported, target)) return 0;
      DWORD scheme = PickAuthScheme(supported);
      if (scheme != 0) {
        if (!api.set_credentials(h.request, target, scheme, W(kEmpty), W(kEmpty), nullptr)) {
          h.Record(LastCode());
          return 0;
        }
        done = previous == 401;
      }
    } else if (status == 407) {
      if (!QueryAuth(api, h, supported, target)) return 0;
      proxy_scheme = PickAuthScheme(supported);
      done = previous == 407;
    }
    previous = status;
    if (done) return status;
  }
}

void WebPostWorker(WebPostJob& job) {
  Handles& h = *job.owner;
  if (!h.api) return;
  if (!h.api->complete) {
    h.Record(kErrorProcNotFound);
    return;
  }
  std::unique_ptr<char[]> chunk(new (std::nothrow) char[kChunkBufferSize]());
  if (!chunk) return;
  DWORD status = Exchange(job, chunk.get());
  if (status == 0) return;
  if (status >= 300) h.RecordFirst(status);
  const Api& api = *h.api;
  ReadReply(
      job.reply_file_path, job.reply, chunk.get(), job.chunk_size, h.last_error, h.abandoned,
      [&api, &h] {
        DWORD available = 0;
        return api.query_data_available(h.request, &available) != FALSE;
      },
      [&api, &h](char* buffer, std::size_t size, std::uint32_t& got) {
        DWORD read = 0;
        BOOL ok = api.read_data(h.request, buffer, static_cast<DWORD>(size), &read);
        got = read;
        return ok != FALSE;
      });
}

}  // namespace

// ---------------------------------------------------------------------------
// The connection
// ---------------------------------------------------------------------------

CZWinHTTPConnect::CZWinHTTPConnect(unsigned long timeout_ms, std::string library_name,
                                   std::string fallback_library_name)
    : agent_name_(kDefaultAgent), scheme_(kDefaultScheme), timeout_ms_(timeout_ms),
      library_name_(std::move(library_name)),
      fallback_library_name_(std::move(fallback_library_name)),
      handles_(std::make_shared<Handles>(nullptr)) {}

CZWinHTTPConnect::~CZWinHTTPConnect() {
  ZReset();
  ZUnloadWinHttp();
}

bool CZWinHTTPConnect::IsBound() const { return api_ && api_->open != nullptr; }

void CZWinHTTPConnect::RecordLastError(std::uint32_t code) { handles_->Record(code); }

std::uint32_t CZWinHTTPConnect::ZGetLastError() const { return handles_->last_error.load(); }

bool CZWinHTTPConnect::RunStep(std::function<void()> step) {
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
  handles_ = std::make_shared<Handles>(api_);
  RecordLastError(error);
  return false;
}

int CZWinHTTPConnect::ZLoadWinHttp() {
  try {
    auto api = std::make_shared<Api>();
    api_.reset();
    auto check_platform = [](const platform::Library& library) {
      using CheckFn = decltype(&::WinHttpCheckPlatform);
      void* address = library.Resolve("WinHttpCheckPlatform");
      return address == nullptr || reinterpret_cast<CheckFn>(address)() != FALSE;
    };
    api->library = platform::Library::Load(library_name_);
    if (api->library.IsLoaded() && !check_platform(api->library)) api->library.Unload();
    if (!api->library.IsLoaded()) {
      api->library = platform::Library::Load(fallback_library_name_);
      if (!api->library.IsLoaded()) return 0;
      if (!check_platform(api->library)) {
        api->library.Unload();
        return 0;
      }
    }
    api->complete = api->Resolve();
    bool complete = api->complete;
    api_ = std::move(api);
    return complete ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int CZWinHTTPConnect::ZUnloadWinHttp() {
  // Handles still open (or held by a late worker) keep the library until they close.
  api_.reset();
  return 1;
}

void CZWinHTTPConnect::ZReset() {
  try {
    handles_ = std::make_shared<Handles>(api_);
    agent_name_ = kDefaultAgent;
    proxy_.clear();
    proxy_user_name_.clear();
    proxy_password_.clear();
    server_name_.clear();
    scheme_ = kDefaultScheme;
    port_ = 0;
    access_type_ = kAccessDefaultProxy;
  } catch (...) {
  }
}

void CZWinHTTPConnect::SetRequestProxy(const std::string& address, const std::string& port) {
  std::string name = address + ":" + port;
  request_proxy_ = ToWide(name).substr(0, kRequestProxyChars);
}

int CZWinHTTPConnect::ZInternetOpen(const char16_t* agent_name, std::uint32_t access_type,
                                    const char16_t* proxy) {
  try {
    ZReset();
    if (!api_ || !api_->open) return 0;
    if (!Empty(agent_name)) agent_name_ = Capped(agent_name);
    access_type_ = access_type;
    HINTERNET session;
    if (!Empty(proxy)) {
      proxy_ = Capped(proxy);
      session = api_->open(W(agent_name_), access_type_, W(proxy_), W(kLocalBypass), 0);
    } else {
      session = api_->open(W(agent_name_), access_type_, nullptr, nullptr, 0);
    }
    if (!session) {
      RecordLastError(LastCode());
      return 0;
    }
    handles_->session = session;
    DWORD timeout = static_cast<DWORD>(timeout_ms_);
    if (api_->set_option) {
      api_->set_option(session, WINHTTP_OPTION_CONNECT_TIMEOUT, &timeout, sizeof timeout);
      // The name look-up is the one step without a finite time-out of its own (send and
      // receive have 30 s): bound it by the step's, so that a blocked call ends by itself.
      api_->set_option(session, WINHTTP_OPTION_RESOLVE_TIMEOUT, &timeout, sizeof timeout);
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

int CZWinHTTPConnect::ZInternetConnect(const char16_t* server_name, std::uint16_t port,
                                       const char16_t* scheme) {
  try {
    RecordLastError(0);
    if (!Empty(server_name)) server_name_ = Capped(server_name);
    if (!Empty(scheme)) scheme_ = Capped(scheme);
    port_ = port;
    auto h = handles_;
    std::u16string server = server_name_;
    INTERNET_PORT server_port = port_;
    bool ran = RunStep([h, server, server_port] {
      try {
        if (!h->api || !h->api->connect) return;
        if (HINTERNET old = h->connection.exchange(nullptr)) h->api->close_handle(old);
        HINTERNET connection = h->api->connect(h->session, W(server), server_port, 0);
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

int CZWinHTTPConnect::ZHTTPOpenRequest(const char16_t* object_name, const char16_t* verb) {
  try {
    RecordLastError(0);
    auto h = handles_;
    std::u16string object;
    if (!EncodeRequestPath(std::u16string_view(object_name ? object_name : u""),
                           kEscapedRequestPathMaxChars, object)) {
      RecordLastError(ERROR_WINHTTP_INVALID_URL);
      return 0;
    }
    std::u16string verb_text = Capped(verb);
    bool secure = !(scheme_.size() == 4 && (scheme_[0] | 0x20) == u'h' &&
                    (scheme_[1] | 0x20) == u't' && (scheme_[2] | 0x20) == u't' &&
                    (scheme_[3] | 0x20) == u'p');
    bool ran = RunStep([h, object, verb_text, secure] {
      try {
        if (!h->api || !h->api->open_request) {
          h->Record(kErrorProcNotFound);
          return;
        }
        if (HINTERNET old = h->request.exchange(nullptr)) h->api->close_handle(old);
        HINTERNET request = h->api->open_request(h->connection, W(verb_text), W(object),
                                                 nullptr, nullptr, nullptr,
                                                 secure ? WINHTTP_FLAG_SECURE : 0);
        h->request = request;
        if (!request) h->Record(LastCode());
      } catch (...) {
      }
    });
    return ran && handles_->request && ZGetLastError() == 0 ? 1 : 0;
  } catch (...) {
    RecordLastError(LastCode());
    return 0;
  }
}

int CZWinHTTPConnect::ZSetProxyUserPassword(const char16_t* user_name, const char16_t* password) {
  RecordLastError(0);
  try {
    if (!Empty(user_name)) proxy_user_name_ = Capped(user_name);
    if (!Empty(password)) proxy_password_ = Capped(password);
  } catch (...) {
  }
  return 1;
}

int CZWinHTTPConnect::ZHTTPWebPost(const char* body_file_path, const char* reply_file_path,
                                   const char* body_text, int body_length, const char* prefix,
                                   const char* suffix, std::string* reply_text,
                                   int* reply_length, bool proxy_option,
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
    job->proxy_option = proxy_option;
    job->request_proxy = request_proxy_;
    job->proxy_user_name = proxy_user_name_;
    job->proxy_password = proxy_password_;
    job->chunk_size = static_cast<std::size_t>(write_chunk_size_);
    job->write_delay_ms = write_delay_ms_;
    if (kStepTimeoutOption != 0 && handles_->request && api_ && api_->set_option) {
      // The send, run on this thread, ends with the time-out error at the step's time-out.
      DWORD bound = timeout_ms_ >= 0xFFFFFFFFUL ? 0 : static_cast<DWORD>(timeout_ms_);
      api_->set_option(handles_->request, kStepTimeoutOption, &bound, sizeof bound);
    }
    bool ran = RunStep([job] {
      try {
        if (!job->owner->request) {
          job->owner->Record(kErrorInvalidHandle);
          return;
        }
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
