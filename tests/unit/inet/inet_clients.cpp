#include "inet_clients.h"

#include <chrono>
#include <cerrno>
#include <thread>

#include "wide_text.h"
#include "winhttp.h"
#include "wininet.h"

namespace vemtu::test {

namespace {

void Pause(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool Failed(PostResult& result, const char* call) {
  result.error = static_cast<DWORD>(errno);
  result.failed = call;
  return false;
}

}  // namespace

// ---- WinINet, linked at load time ----

namespace {

bool RunWinInet(const PostPlan& plan, HINTERNET request, PostResult& result) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(plan.body.size());
    ++result.sends;
    if (!HttpSendRequestExA(request, &buffers, nullptr, HSR_INITIATE, 0)) {
      return Failed(result, "HttpSendRequestExA");
    }
    for (std::size_t at = 0; at < plan.body.size(); at += plan.chunk) {
      DWORD size = static_cast<DWORD>(std::min(plan.chunk, plan.body.size() - at));
      DWORD written = 0;
      if (!InternetWriteFile(request, plan.body.data() + at, size, &written)) {
        return Failed(result, "InternetWriteFile");
      }
      Pause(plan.pause_ms);
    }
    if (HttpEndRequestA(request, nullptr, 0, 0)) break;
    if (errno != ERROR_INTERNET_FORCE_RETRY || attempt == 3) {
      return Failed(result, "HttpEndRequestA");
    }
  }
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length,
                      nullptr)) {
    return Failed(result, "HttpQueryInfoA");
  }
  result.status = status;
  while (true) {
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
      return Failed(result, "InternetQueryDataAvailable");
    }
    char chunk[4096];
    DWORD got = 0;
    if (!InternetReadFile(request, chunk, sizeof chunk, &got)) {
      return Failed(result, "InternetReadFile");
    }
    if (got == 0) return true;
    result.reply.append(chunk, got);
  }
}

}  // namespace

PostResult PostWinInet(const PostPlan& plan) {
  PostResult result;
  HINTERNET session = InternetOpenA("VemtuTest", plan.access,
                                    plan.proxy.empty() ? nullptr : plan.proxy.c_str(), nullptr, 0);
  if (!session) {
    Failed(result, "InternetOpenA");
    return result;
  }
  HINTERNET connection = InternetConnectA(session, plan.host.c_str(),
                                          static_cast<INTERNET_PORT>(plan.port), nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION;
  if (plan.secure) {
    flags |= INTERNET_FLAG_SECURE | INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
             INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
  }
  HINTERNET request = connection ? HttpOpenRequestA(connection, "POST", plan.object.c_str(),
                                                    "HTTP/1.0", nullptr, nullptr, flags, 0)
                                 : nullptr;
  if (!request) {
    Failed(result, connection ? "HttpOpenRequestA" : "InternetConnectA");
  } else {
    if (plan.secure && plan.security_ignore != 0) {
      DWORD security = 0;
      DWORD length = sizeof security;
      InternetQueryOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &security, &length);
      security |= plan.security_ignore;
      InternetSetOptionA(request, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security);
    }
    if (plan.timeout_ms) {
      InternetSetOptionA(request, INTERNET_OPTION_RECEIVE_TIMEOUT,
                         const_cast<DWORD*>(&plan.timeout_ms), sizeof(DWORD));
    }
    if (!plan.proxy_user.empty()) {
      InternetSetOptionA(request, INTERNET_OPTION_PROXY_USERNAME,
                         const_cast<char*>(plan.proxy_user.c_str()),
                         static_cast<DWORD>(plan.proxy_user.size() + 1));
      InternetSetOptionA(request, INTERNET_OPTION_PROXY_PASSWORD,
                         const_cast<char*>(plan.proxy_password.c_str()),
                         static_cast<DWORD>(plan.proxy_password.size() + 1));
    }
    RunWinInet(plan, request, result);
    InternetCloseHandle(request);
  }
  if (connection) InternetCloseHandle(connection);
  InternetCloseHandle(session);
  return result;
}

// ---- WinHTTP, bound by name ----


namespace {

template <typename F>
bool Resolve(const platform::Library& library, const char* name, F* out) {
  *out = reinterpret_cast<F>(library.Resolve(name));
  return *out != nullptr;
}

// The scheme the transport picks from those offered.
DWORD PickScheme(DWORD offered) {
  for (DWORD scheme : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM,
                       WINHTTP_AUTH_SCHEME_PASSPORT, WINHTTP_AUTH_SCHEME_DIGEST,
                       WINHTTP_AUTH_SCHEME_BASIC}) {
    if (offered & scheme) return scheme;
  }
  return 0;
}

bool RunWinHttp(const WinHttpBinding& api, const PostPlan& plan, HINTERNET request,
                PostResult& result) {
  std::u16string user = inet::ToUtf16(plan.proxy_user);
  std::u16string password = inet::ToUtf16(plan.proxy_password);
  DWORD previous = 0;
  DWORD proxy_scheme = 0;
  for (int pass = 0; pass < 8; ++pass) {
    if (proxy_scheme && !api.SetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, proxy_scheme,
                                            user.c_str(), password.c_str(), nullptr)) {
      return Failed(result, "WinHttpSetCredentials");
    }
    ++result.sends;
    if (!api.SendRequest(request, nullptr, 0, nullptr, 0, static_cast<DWORD>(plan.body.size()), 0)) {
      return Failed(result, "WinHttpSendRequest");
    }
    for (std::size_t at = 0; at < plan.body.size(); at += plan.chunk) {
      DWORD size = static_cast<DWORD>(std::min(plan.chunk, plan.body.size() - at));
      DWORD written = 0;
      if (!api.WriteData(request, plan.body.data() + at, size, &written)) {
        return Failed(result, "WinHttpWriteData");
      }
      Pause(plan.pause_ms);
    }
    if (!api.ReceiveResponse(request, nullptr)) {
      if (errno == ERROR_WINHTTP_RESEND_REQUEST) continue;
      return Failed(result, "WinHttpReceiveResponse");
    }
    DWORD status = 0;
    DWORD length = sizeof status;
    if (!api.QueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, nullptr,
                          &status, &length, nullptr)) {
      return Failed(result, "WinHttpQueryHeaders");
    }
    result.status = status;
    if (status != 401 && status != 407) break;
    DWORD offered = 0, first = 0, target = 0;
    if (!api.QueryAuthSchemes(request, &offered, &first, &target)) {
      return Failed(result, "WinHttpQueryAuthSchemes");
    }
    DWORD scheme = PickScheme(offered);
    if (status == 401) {
      if (scheme == 0) break;
      if (!api.SetCredentials(request, target, scheme, u"", u"", nullptr)) {
        return Failed(result, "WinHttpSetCredentials");
      }
    } else {
      proxy_scheme = scheme;
    }
    if (previous == status) break;
    previous = status;
  }
  while (true) {
    DWORD available = 0;
    if (!api.QueryDataAvailable(request, &available)) {
      return Failed(result, "WinHttpQueryDataAvailable");
    }
    char chunk[5120];
    DWORD got = 0;
    if (!api.ReadData(request, chunk, static_cast<DWORD>(std::min<std::size_t>(plan.chunk, sizeof chunk)),
                      &got)) {
      return Failed(result, "WinHttpReadData");
    }
    if (got == 0) return true;
    result.reply.append(chunk, got);
  }
}

}  // namespace

const WinHttpBinding* BindWinHttp() {
  static WinHttpBinding* bound = [] {
    auto* api = new WinHttpBinding;
    api->library = platform::Library::Load("WinHttp.dll");
    const platform::Library& l = api->library;
    bool ok = l.IsLoaded() && Resolve(l, "WinHttpOpen", &api->Open) &&
              Resolve(l, "WinHttpConnect", &api->Connect) &&
              Resolve(l, "WinHttpOpenRequest", &api->OpenRequest) &&
              Resolve(l, "WinHttpSetCredentials", &api->SetCredentials) &&
              Resolve(l, "WinHttpSendRequest", &api->SendRequest) &&
              Resolve(l, "WinHttpWriteData", &api->WriteData) &&
              Resolve(l, "WinHttpReceiveResponse", &api->ReceiveResponse) &&
              Resolve(l, "WinHttpQueryHeaders", &api->QueryHeaders) &&
              Resolve(l, "WinHttpQueryAuthSchemes", &api->QueryAuthSchemes) &&
              Resolve(l, "WinHttpCloseHandle", &api->CloseHandle) &&
              Resolve(l, "WinHttpQueryDataAvailable", &api->QueryDataAvailable) &&
              Resolve(l, "WinHttpReadData", &api->ReadData) &&
              Resolve(l, "WinHttpSetOption", &api->SetOption) &&
              Resolve(l, "WinHttpSetTimeouts", &api->SetTimeouts);
    return ok ? api : nullptr;
  }();
  return bound;
}

PostResult PostWinHttp(const WinHttpBinding& api, const PostPlan& plan) {
  PostResult result;
  std::u16string proxy = inet::ToUtf16(plan.proxy);
  HINTERNET session =
      api.Open(u"VemtuTest", plan.access, proxy.empty() ? nullptr : proxy.c_str(),
               proxy.empty() ? nullptr : u"<local>", 0);
  if (!session) {
    Failed(result, "WinHttpOpen");
    return result;
  }
  if (plan.timeout_ms) {
    int ms = static_cast<int>(plan.timeout_ms);
    api.SetTimeouts(session, ms, ms, ms, ms);
    DWORD response = plan.timeout_ms;
    api.SetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response, sizeof response);
  }
  std::u16string host = inet::ToUtf16(plan.host);
  std::u16string object = inet::ToUtf16(plan.object);
  HINTERNET connection = api.Connect(session, host.c_str(), static_cast<INTERNET_PORT>(plan.port), 0);
  HINTERNET request = connection ? api.OpenRequest(connection, u"POST", object.c_str(), nullptr,
                                                   nullptr, nullptr,
                                                   plan.secure ? WINHTTP_FLAG_SECURE : 0)
                                 : nullptr;
  if (!request) {
    Failed(result, connection ? "WinHttpOpenRequest" : "WinHttpConnect");
  } else {
    if (plan.security_ignore) {
      DWORD flags = plan.security_ignore;
      api.SetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    RunWinHttp(api, plan, request, result);
    api.CloseHandle(request);
  }
  if (connection) api.CloseHandle(connection);
  api.CloseHandle(session);
  return result;
}

}  // namespace vemtu::test
