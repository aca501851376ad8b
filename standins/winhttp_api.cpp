// The WinHTTP entry points of libWinHttp.so: sessions, connections and requests as
// handles, each send on curl with its body streamed as the caller writes it. Server and
// proxy challenges come back to the caller (WinHttpQueryAuthSchemes), who sets
// credentials and sends again; certificates are checked unless the caller relaxes the
// checks with WINHTTP_OPTION_SECURITY_FLAGS.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "api_support.h"
#include "entry_steps.h"
#include "proxy_list.h"
#include "request_core.h"
#include "response_head.h"
#include "wide_text.h"
#include "winhttp.h"

namespace vemtu::inet {
namespace {

constexpr FailureCodes kCodes = {{
    ERROR_SUCCESS,                          // kNone
    ERROR_WINHTTP_CANNOT_CONNECT,           // kCannotConnect
    ERROR_WINHTTP_TIMEOUT,                  // kTimeout
    ERROR_WINHTTP_NAME_NOT_RESOLVED,        // kNameNotResolved
    ERROR_WINHTTP_CONNECTION_ERROR,         // kConnectionAborted
    ERROR_WINHTTP_CONNECTION_ERROR,         // kConnectionReset
    ERROR_WINHTTP_INVALID_SERVER_RESPONSE,  // kInvalidResponse
    ERROR_WINHTTP_SECURE_FAILURE,           // kUnknownAuthority
    ERROR_WINHTTP_SECURE_FAILURE,           // kCertificateDate
    ERROR_WINHTTP_SECURE_FAILURE,           // kCertificateName
    ERROR_WINHTTP_SECURE_CHANNEL_ERROR,     // kSecureChannel
    ERROR_WINHTTP_OPERATION_CANCELLED,      // kCancelled
    ERROR_NOT_ENOUGH_MEMORY,                // kOutOfMemory
    ERROR_WINHTTP_INVALID_URL,              // kInvalidUrl
    ERROR_WINHTTP_LOGIN_FAILURE,            // kLoginFailure
    ERROR_WINHTTP_RESEND_REQUEST,           // kResend
    ERROR_WINHTTP_INCORRECT_HANDLE_STATE,  // kNotSent
    ERROR_INVALID_PARAMETER,  // kBadArgument
    ERROR_WINHTTP_INTERNAL_ERROR,           // kInternal
}};

// Texts end in CRLF, as the system's message tables give them.
const MessageRow kMessages[] = {
    {ERROR_WINHTTP_OUT_OF_HANDLES, "No more handles could be generated at this time.\r\n"},
    {ERROR_WINHTTP_TIMEOUT, "The operation timed out\r\n"},
    {ERROR_WINHTTP_INTERNAL_ERROR, "An internal error occurred.\r\n"},
    {ERROR_WINHTTP_INVALID_URL, "The URL is invalid.\r\n"},
    {ERROR_WINHTTP_UNRECOGNIZED_SCHEME, "The URL does not use a recognized protocol.\r\n"},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, "The server name or address could not be resolved\r\n"},
    {ERROR_WINHTTP_INVALID_OPTION, "The option is invalid.\r\n"},
    {ERROR_WINHTTP_LOGIN_FAILURE, "The login attempt failed.\r\n"},
    {ERROR_WINHTTP_OPERATION_CANCELLED, "The operation was canceled.\r\n"},
    {ERROR_WINHTTP_INCORRECT_HANDLE_TYPE, "The supplied handle is the wrong type for the requested operation.\r\n"},
    {ERROR_WINHTTP_INCORRECT_HANDLE_STATE, "The handle is in the wrong state for the requested operation.\r\n"},
    {ERROR_WINHTTP_CANNOT_CONNECT, "A connection with the server could not be established\r\n"},
    {ERROR_WINHTTP_CONNECTION_ERROR, "The connection with the server was terminated abnormally\r\n"},
    {ERROR_WINHTTP_RESEND_REQUEST, "The request must be sent again.\r\n"},
    {ERROR_WINHTTP_HEADER_NOT_FOUND, "The requested header could not be located.\r\n"},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "The server response could not be parsed.\r\n"},
    {ERROR_WINHTTP_INVALID_QUERY_REQUEST, "The header query is invalid.\r\n"},
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "An error occurred in the secure channel support.\r\n"},
    {ERROR_WINHTTP_SECURE_FAILURE, "A security error occurred.\r\n"},
};

// ---- Handle objects ----

// What every handle carries and passes on to the handles made from it.
struct HttpObject : HandleObject {
  Timeouts timeouts;
};

// Which proxy to use: the session's, or one set on a request.
struct ProxySetting {
  DWORD access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  std::string proxy;
  std::string bypass;
};

struct HttpSession : HttpObject {
  std::string agent;
  ProxySetting proxy;
};

struct HttpConnection : HttpObject {
  std::shared_ptr<HttpSession> session;
  std::string host;
  INTERNET_PORT port = 0;
};

// Curl handles for the whole process; connections end with their request (see
// curl_handles.h).
HandlePool& Pool() {
  static auto* pool = new HandlePool();  // handles may outlive statics
  return *pool;
}

struct HttpRequest : HttpObject {
  std::shared_ptr<HttpConnection> connection;
  std::string verb;
  std::string object;
  bool http10 = false;
  DWORD flags = 0;
  DWORD security_flags = 0;
  std::vector<std::string> headers;
  std::optional<ProxySetting> proxy;  // WINHTTP_OPTION_PROXY on the request
  Credentials server_credentials;
  Credentials proxy_credentials;
  RequestCore core{Pool()};

  void Cancel() override { core.Cancel(); }
  bool secure() const { return flags & WINHTTP_FLAG_SECURE; }
};

HandleTable& Handles() {
  static auto* table = new HandleTable;  // lives as long as the process: handles may too
  return *table;
}

template <typename T>
std::shared_ptr<T> Find(HINTERNET handle) {
  return Lookup<T>(Handles(), handle, ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
}

const Library& Api() {
  static const Library library{Handles(), ERROR_WINHTTP_INCORRECT_HANDLE_TYPE, kCodes};
  return library;
}

// WinHTTP's defaults: no resolve limit, 60 s to connect, 30 s per send and receive.
Timeouts DefaultTimeouts() {
  Timeouts timeouts;
  timeouts.connect_ms = 60000;
  timeouts.send_ms = 30000;
  timeouts.receive_ms = 30000;
  timeouts.response_ms = 90000;
  return timeouts;
}

// Bytes >= 0x80 of a UTF-8 object name go out percent-encoded, and so do the characters
// that WinHTTP escapes in a request path (measured: '"', '#', '<', '>', '[', '\\', ']',
// '^', '`', '{', '|', '}'), so both builds send the same request line.
std::string EscapePathAsWinHttp(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  static const std::string_view kEscaped = "\"#<>[\\]^`{|}";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80 && kEscaped.find(static_cast<char>(c)) == std::string_view::npos) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

bool ValidProxySetting(const ProxySetting& setting) {
  if (setting.access != WINHTTP_ACCESS_TYPE_NAMED_PROXY) return true;
  return !ProxyFor(setting.proxy, false).empty() || !ProxyFor(setting.proxy, true).empty();
}

ExchangeSettings SettingsFor(const HttpRequest& request, std::uint64_t total) {
  const HttpConnection& connection = *request.connection;
  const HttpSession& session = *connection.session;
  ExchangeSettings settings;
  INTERNET_PORT port = connection.port != INTERNET_DEFAULT_PORT
                           ? connection.port
                           : (request.secure() ? INTERNET_DEFAULT_HTTPS_PORT
                                               : INTERNET_DEFAULT_HTTP_PORT);
  settings.method = request.verb;
  settings.http10 = request.http10;
  // The system library's head, in its order.
  if (!session.agent.empty()) settings.headers.push_back("User-Agent: " + session.agent);
  settings.headers.push_back(HostLine(connection.host, port, request.secure()));
  if (BodyAnnounced(request.verb, total)) {
    settings.headers.push_back("Content-Length: " + std::to_string(total));
  }
  settings.headers.push_back("Connection: Keep-Alive");
  settings.headers.insert(settings.headers.end(), request.headers.begin(), request.headers.end());
  const ProxySetting& proxy = request.proxy ? *request.proxy : session.proxy;
  ChooseProxy(settings, proxy.access, proxy.proxy, proxy.bypass, connection.host,
              request.secure());
  settings.proxy_credentials = request.proxy_credentials;
  settings.server_credentials = request.server_credentials;
  settings.security_ignore = request.security_flags;
  settings.connect_timeout_ms = request.timeouts.connect_ms;
  SetTarget(settings,
            std::string(request.secure() ? "https://" : "http://") + UrlHost(connection.host) +
                ":" + std::to_string(port),
            request.object, request.secure());
  settings.body_length = total;
  // Every attempt has a session of its own, whose connections close with it.
  settings.keep_connection = false;
  return settings;
}

// A wide text answer; lengths count bytes: without the zero on success, with it when
// the buffer is too small.
BOOL AnswerWide(const std::string& utf8, LPVOID buffer, LPDWORD length) {
  std::u16string text = ToUtf16(utf8);
  DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
  if (!buffer || *length < needed) {
    *length = needed;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.c_str(), needed);
  *length = needed - sizeof(char16_t);
  return Succeed();
}

// A wide text option: `length` characters, up to a zero if there is one.
std::string OptionWide(LPVOID buffer, DWORD length) {
  const auto* text = static_cast<const char16_t*>(buffer);
  std::size_t size = 0;
  while (size < length && text[size] != 0) ++size;
  return ToUtf8(text, size);
}

// -1 means "no limit"; other negative values are refused.
bool SetTimeout(int value, std::uint32_t* field) {
  if (value < -1) return false;
  *field = value <= 0 ? 0 : static_cast<std::uint32_t>(value);
  return true;
}

// One component of WinHttpCrackUrl: pointed into the URL when the caller gave a length
// but no buffer, copied when it gave a buffer.
bool CrackPart(const char16_t* url, std::size_t begin, std::size_t end, LPWSTR* pointer,
               DWORD* length) {
  if (*length == 0 && !*pointer) return true;  // not asked for
  std::size_t size = end - begin;
  if (!*pointer) {
    *pointer = const_cast<LPWSTR>(url + begin);
    *length = static_cast<DWORD>(size);
    return true;
  }
  if (*length < size + 1) {
    *length = static_cast<DWORD>(size + 1);
    return false;
  }
  std::memcpy(*pointer, url + begin, size * sizeof(char16_t));
  (*pointer)[size] = 0;
  *length = static_cast<DWORD>(size);
  return true;
}

}  // namespace
}  // namespace vemtu::inet

using namespace vemtu::inet;

// ---- Library, sessions, connections, requests ----

#ifndef VEMTU_WINHTTP_WITHOUT_PLATFORM_CHECK
BOOL WINAPI WinHttpCheckPlatform(void) { return TRUE; }
#endif

HINTERNET WINAPI WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType, LPCWSTR pszProxyW,
                             LPCWSTR pszProxyBypassW, DWORD dwFlags) {
  return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
    if (dwFlags != 0) return FailNull(ERROR_INVALID_PARAMETER);  // no asynchronous mode
    ProxySetting proxy;
    proxy.access = dwAccessType;
    if (dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
      proxy.proxy = ToUtf8(pszProxyW);
      proxy.bypass = ToUtf8(pszProxyBypassW);
    } else if (dwAccessType != WINHTTP_ACCESS_TYPE_DEFAULT_PROXY &&
               dwAccessType != WINHTTP_ACCESS_TYPE_NO_PROXY && dwAccessType != 4) {
      return FailNull(ERROR_INVALID_PARAMETER);
    }
    if (!ValidProxySetting(proxy)) return FailNull(ERROR_INVALID_PARAMETER);
    InitCurlOnce();
    auto session = std::make_shared<HttpSession>();
    session->timeouts = DefaultTimeouts();
    session->agent = ToUtf8(pszAgentW);
    session->proxy = proxy;
    HINTERNET handle = Handles().Add(session);
    errno = 0;
    return handle;
  });
}

HINTERNET WINAPI WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName,
                                INTERNET_PORT nServerPort, DWORD dwReserved) {
  return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
    auto session = Find<HttpSession>(hSession);
    if (!session) return nullptr;
    if (dwReserved != 0 || WideLength(pswzServerName) == 0) {
      return FailNull(ERROR_INVALID_PARAMETER);
    }
    auto connection = std::make_shared<HttpConnection>();
    connection->timeouts = session->timeouts;
    connection->session = session;
    connection->host = ToUtf8(pswzServerName);
    connection->port = nServerPort;
    HINTERNET handle = Handles().Add(connection);
    errno = 0;
    return handle;
  });
}

HINTERNET WINAPI WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb, LPCWSTR pwszObjectName,
                                    LPCWSTR pwszVersion, LPCWSTR pwszReferrer,
                                    LPCWSTR* ppwszAcceptTypes, DWORD dwFlags) {
  return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
    auto connection = Find<HttpConnection>(hConnect);
    if (!connection) return nullptr;
    std::string object = EscapePathAsWinHttp(ToUtf8(pwszObjectName));
    if (object.empty() || object.front() != '/') object.insert(0, "/");
    // A space or a control byte would break the request line; callers encode them.
    if (!ValidObjectName(object)) return FailNull(ERROR_WINHTTP_INVALID_URL);

    auto request = std::make_shared<HttpRequest>();
    if (!request->core.usable()) return FailNull(ERROR_NOT_ENOUGH_MEMORY);
    request->timeouts = connection->timeouts;
    request->connection = connection;
    std::string verb = ToUtf8(pwszVerb);
    request->verb = verb.empty() ? "GET" : verb;
    request->object = object;
    request->http10 = ToUtf8(pwszVersion) == "HTTP/1.0";
    request->flags = dwFlags;
    std::string referrer = ToUtf8(pwszReferrer);
    if (!referrer.empty()) request->headers.push_back("Referer: " + referrer);
    if (ppwszAcceptTypes && *ppwszAcceptTypes) {
      std::string accept;
      for (LPCWSTR* type = ppwszAcceptTypes; *type; ++type) {
        accept += (accept.empty() ? "" : ", ") + ToUtf8(*type);
      }
      request->headers.push_back("Accept: " + accept);
    }
    HINTERNET handle = Handles().Add(request);
    errno = 0;
    return handle;
  });
}

// ---- Options and credentials ----

BOOL WINAPI WinHttpSetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                             DWORD dwBufferLength) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto object = Find<HttpObject>(hInternet);
    if (!object) return FALSE;
    if (!lpBuffer) return Fail(ERROR_INVALID_PARAMETER);
    auto request = std::dynamic_pointer_cast<HttpRequest>(object);
    auto session = std::dynamic_pointer_cast<HttpSession>(object);
    DWORD value = 0;
    switch (dwOption) {
      case WINHTTP_OPTION_RESOLVE_TIMEOUT:
      case WINHTTP_OPTION_CONNECT_TIMEOUT:
      case WINHTTP_OPTION_SEND_TIMEOUT:
      case WINHTTP_OPTION_RECEIVE_TIMEOUT:
      case WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT: {
        if (!ReadDword(lpBuffer, dwBufferLength, &value)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        std::uint32_t limit = value == 0xFFFFFFFF ? 0 : value;
        Timeouts& t = object->timeouts;
        if (dwOption == WINHTTP_OPTION_CONNECT_TIMEOUT) t.connect_ms = limit;
        if (dwOption == WINHTTP_OPTION_SEND_TIMEOUT) t.send_ms = limit;
        if (dwOption == WINHTTP_OPTION_RECEIVE_TIMEOUT) t.receive_ms = limit;
        if (dwOption == WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT) t.response_ms = limit;
        return Succeed();
      }
      case VEMTU_OPTION_STEP_TIMEOUT:
        if (!request) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
        if (!ReadDword(lpBuffer, dwBufferLength, &value)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        request->core.SetStepTimeout(value == 0xFFFFFFFF ? 0 : value);
        return Succeed();
      case WINHTTP_OPTION_SECURITY_FLAGS:
        if (!request) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
        if (!ReadDword(lpBuffer, dwBufferLength, &value)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        request->security_flags = value;
        return Succeed();
      case WINHTTP_OPTION_PROXY: {
        if (!request && !session) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
        if (dwBufferLength < sizeof(WINHTTP_PROXY_INFO)) return Fail(ERROR_INSUFFICIENT_BUFFER);
        const auto* info = static_cast<const WINHTTP_PROXY_INFO*>(lpBuffer);
        ProxySetting setting;
        setting.access = info->dwAccessType;
        setting.proxy = ToUtf8(info->lpszProxy);
        setting.bypass = ToUtf8(info->lpszProxyBypass);
        if (!ValidProxySetting(setting)) return Fail(ERROR_INVALID_PARAMETER);
        if (request) request->proxy = setting;
        else session->proxy = setting;
        return Succeed();
      }
      case WINHTTP_OPTION_USER_AGENT:
        if (!session) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
        session->agent = OptionWide(lpBuffer, dwBufferLength);
        return Succeed();
      case WINHTTP_OPTION_USERNAME:
      case WINHTTP_OPTION_PASSWORD:
      case WINHTTP_OPTION_PROXY_USERNAME:
      case WINHTTP_OPTION_PROXY_PASSWORD: {
        // Credentials given as options go out as Basic; other schemes need
        // WinHttpSetCredentials.
        if (!request) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
        bool proxy = dwOption == WINHTTP_OPTION_PROXY_USERNAME ||
                     dwOption == WINHTTP_OPTION_PROXY_PASSWORD;
        Credentials& credentials = proxy ? request->proxy_credentials : request->server_credentials;
        if (credentials.scheme == 0) credentials.scheme = CURLAUTH_BASIC;
        bool user = dwOption == WINHTTP_OPTION_USERNAME || dwOption == WINHTTP_OPTION_PROXY_USERNAME;
        (user ? credentials.user : credentials.password) = OptionWide(lpBuffer, dwBufferLength);
        return Succeed();
      }
      default:
        return Fail(ERROR_WINHTTP_INVALID_OPTION);
    }
  });
}

BOOL WINAPI WinHttpSetTimeouts(HINTERNET hInternet, int nResolveTimeout, int nConnectTimeout,
                               int nSendTimeout, int nReceiveTimeout) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto object = Find<HttpObject>(hInternet);
    if (!object) return FALSE;
    Timeouts timeouts = object->timeouts;
    std::uint32_t resolve = 0;
    if (!SetTimeout(nResolveTimeout, &resolve) || !SetTimeout(nConnectTimeout, &timeouts.connect_ms) ||
        !SetTimeout(nSendTimeout, &timeouts.send_ms) ||
        !SetTimeout(nReceiveTimeout, &timeouts.receive_ms)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    // Resolving is part of connecting here: the shorter limit of the two applies.
    if (resolve > 0 && (timeouts.connect_ms == 0 || resolve < timeouts.connect_ms)) {
      timeouts.connect_ms = resolve;
    }
    object->timeouts = timeouts;
    return Succeed();
  });
}

BOOL WINAPI WinHttpSetCredentials(HINTERNET hRequest, DWORD AuthTargets, DWORD AuthScheme,
                                  LPCWSTR pwszUserName, LPCWSTR pwszPassword, LPVOID) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto request = Find<HttpRequest>(hRequest);
    if (!request) return FALSE;
    unsigned long scheme = CurlScheme(AuthScheme);
    if (scheme == 0 ||
        (AuthTargets != WINHTTP_AUTH_TARGET_SERVER && AuthTargets != WINHTTP_AUTH_TARGET_PROXY)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    Credentials& credentials = AuthTargets == WINHTTP_AUTH_TARGET_PROXY
                                   ? request->proxy_credentials
                                   : request->server_credentials;
    std::string user = ToUtf8(pwszUserName);
    if (!user.empty()) {
      // The challenge being answered is the reply of the last send.
      const char* header = AuthTargets == WINHTTP_AUTH_TARGET_PROXY ? "Proxy-Authenticate"
                                                                   : "WWW-Authenticate";
      std::uint32_t first = 0;
      scheme = CurlSchemeWithUser(AuthScheme, OfferedSchemes(request->core.Head(), header, &first));
    }
    credentials = {scheme, user, ToUtf8(pwszPassword)};
    return Succeed();
  });
}

// ---- Sending and receiving ----

BOOL WINAPI WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                               LPVOID lpOptional, DWORD dwOptionalLength, DWORD dwTotalLength,
                               DWORD_PTR) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto request = Find<HttpRequest>(hRequest);
    if (!request) return FALSE;
    if (dwTotalLength < dwOptionalLength || (!lpOptional && dwOptionalLength > 0)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    ExchangeSettings settings = SettingsFor(*request, dwTotalLength);
    if (lpszHeaders) {
      std::size_t length = dwHeadersLength == 0xFFFFFFFF ? WideLength(lpszHeaders) : dwHeadersLength;
      for (std::string& line : HeaderLines(ToUtf8(lpszHeaders, length))) {
        settings.headers.push_back(std::move(line));
      }
    }
    Failure failure = request->core.Send(std::move(settings), static_cast<const char*>(lpOptional),
                                         dwOptionalLength);
    return failure == Failure::kNone ? Succeed() : Fail(kCodes[failure]);
  });
}

BOOL WINAPI WinHttpWriteData(HINTERNET hRequest, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                             LPDWORD lpdwNumberOfBytesWritten) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    return WriteStep<HttpRequest>(Api(), hRequest, lpBuffer, dwNumberOfBytesToWrite,
                                  lpdwNumberOfBytesWritten);
  });
}

BOOL WINAPI WinHttpReceiveResponse(HINTERNET hRequest, LPVOID lpReserved) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto request = Find<HttpRequest>(hRequest);
    if (!request) return FALSE;
    if (lpReserved) return Fail(ERROR_INVALID_PARAMETER);
    Failure failure = request->core.Receive(request->timeouts.response_ms);
    if (failure != Failure::kNone) return Fail(kCodes[failure]);
    return Succeed();
  });
}

BOOL WINAPI WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR pwszName,
                                LPVOID lpBuffer, LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto request = Find<HttpRequest>(hRequest);
    if (!request) return FALSE;
    if (!lpdwBufferLength) return Fail(ERROR_INVALID_PARAMETER);
    long status = request->core.Status();
    if (status == 0) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    if (lpdwIndex && *lpdwIndex > 0) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
    std::string head = request->core.Head();
    std::string value;
    bool found = true;
    switch (dwInfoLevel & 0xFFFF) {
      case WINHTTP_QUERY_STATUS_CODE:
        value = std::to_string(status);
        break;
      case WINHTTP_QUERY_STATUS_TEXT:
        value = StatusText(head);
        break;
      case WINHTTP_QUERY_RAW_HEADERS_CRLF:
        value = head;
        break;
      case WINHTTP_QUERY_CONTENT_LENGTH:
        value = HeaderValue(head, "Content-Length", &found);
        break;
      case WINHTTP_QUERY_CUSTOM:
        if (!pwszName) return Fail(ERROR_INVALID_PARAMETER);
        value = HeaderValue(head, ToUtf8(pwszName), &found);
        break;
      default:
        return Fail(ERROR_WINHTTP_INVALID_QUERY_REQUEST);
    }
    if (!found) return Fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
    if (lpdwIndex) *lpdwIndex = 1;
    if (dwInfoLevel & WINHTTP_QUERY_FLAG_NUMBER) {
      return AnswerNumber(static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10)), lpBuffer,
                          lpdwBufferLength);
    }
    return AnswerWide(value, lpBuffer, lpdwBufferLength);
  });
}

BOOL WINAPI WinHttpQueryAuthSchemes(HINTERNET hRequest, LPDWORD lpdwSupportedSchemes,
                                    LPDWORD lpdwFirstScheme, LPDWORD pdwAuthTarget) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto request = Find<HttpRequest>(hRequest);
    if (!request) return FALSE;
    if (!lpdwSupportedSchemes || !lpdwFirstScheme || !pdwAuthTarget) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    long status = request->core.Status();
    if (status == 0) return Fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    bool proxy = status == 407;
    std::uint32_t first = 0;
    std::uint32_t offered = OfferedSchemes(request->core.Head(),
                                           proxy ? "Proxy-Authenticate" : "WWW-Authenticate", &first);
    if ((status != 401 && status != 407) || offered == 0) return Fail(ERROR_INVALID_OPERATION);
    *lpdwSupportedSchemes = offered;
    *lpdwFirstScheme = first;
    *pdwAuthTarget = proxy ? WINHTTP_AUTH_TARGET_PROXY : WINHTTP_AUTH_TARGET_SERVER;
    return Succeed();
  });
}

BOOL WINAPI WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD lpdwNumberOfBytesAvailable) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    return AvailableStep<HttpRequest>(Api(), hRequest, lpdwNumberOfBytesAvailable);
  });
}

BOOL WINAPI WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                            LPDWORD lpdwNumberOfBytesRead) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    return ReadStep<HttpRequest>(Api(), hRequest, lpBuffer, dwNumberOfBytesToRead,
                                 lpdwNumberOfBytesRead);
  });
}

BOOL WINAPI WinHttpCloseHandle(HINTERNET hInternet) { return CloseStep(Api(), hInternet); }

// ---- URLs ----

BOOL WINAPI WinHttpCrackUrl(LPCWSTR pwszUrl, DWORD dwUrlLength, DWORD,
                            LPURL_COMPONENTS lpUrlComponents) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    if (!pwszUrl || !lpUrlComponents ||
        lpUrlComponents->dwStructSize != sizeof(URL_COMPONENTS)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    std::size_t length = dwUrlLength == 0 ? WideLength(pwszUrl) : dwUrlLength;
    // Positions are taken on the UTF-16 text; the delimiters are all ASCII.
    std::u16string wide(pwszUrl, length);
    std::size_t scheme_end = wide.find(u"://");
    if (scheme_end == std::u16string::npos) return Fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
    std::string scheme = ToUtf8(pwszUrl, scheme_end);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    INTERNET_SCHEME number = scheme == "http" ? INTERNET_SCHEME_HTTP
                             : scheme == "https" ? INTERNET_SCHEME_HTTPS
                                                 : 0;
    if (number == 0) return Fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);

    std::size_t authority = scheme_end + 3;
    std::size_t path = wide.find_first_of(u"/?#", authority);
    if (path == std::u16string::npos) path = length;
    std::size_t at = wide.rfind(u'@', path);
    std::size_t host = authority;
    std::size_t user_end = authority, password_begin = authority, password_end = authority;
    if (at != std::u16string::npos && at >= authority) {
      std::size_t colon = wide.find(u':', authority);
      user_end = colon != std::u16string::npos && colon < at ? colon : at;
      password_begin = user_end < at ? user_end + 1 : at;
      password_end = at;
      host = at + 1;
    }
    std::size_t host_end = path;
    std::size_t port_colon = wide.rfind(u':', path);
    INTERNET_PORT port = number == INTERNET_SCHEME_HTTPS ? INTERNET_DEFAULT_HTTPS_PORT
                                                         : INTERNET_DEFAULT_HTTP_PORT;
    if (port_colon != std::u16string::npos && port_colon >= host &&
        wide.find(u']', port_colon) == std::u16string::npos) {
      std::string digits = ToUtf8(pwszUrl + port_colon + 1, path - port_colon - 1);
      if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
          std::strtoul(digits.c_str(), nullptr, 10) > 65535) {
        return Fail(ERROR_WINHTTP_INVALID_URL);
      }
      port = static_cast<INTERNET_PORT>(std::strtoul(digits.c_str(), nullptr, 10));
      host_end = port_colon;
    }
    if (host_end == host) return Fail(ERROR_WINHTTP_INVALID_URL);
    std::size_t extra = wide.find_first_of(u"?#", path);
    if (extra == std::u16string::npos) extra = length;

    URL_COMPONENTS& parts = *lpUrlComponents;
    parts.nScheme = number;
    parts.nPort = port;
    bool fits = CrackPart(pwszUrl, 0, scheme_end, &parts.lpszScheme, &parts.dwSchemeLength);
    fits &= CrackPart(pwszUrl, host, host_end, &parts.lpszHostName, &parts.dwHostNameLength);
    fits &= CrackPart(pwszUrl, authority, user_end, &parts.lpszUserName, &parts.dwUserNameLength);
    fits &= CrackPart(pwszUrl, password_begin, password_end, &parts.lpszPassword,
                      &parts.dwPasswordLength);
    fits &= CrackPart(pwszUrl, path, extra, &parts.lpszUrlPath, &parts.dwUrlPathLength);
    fits &= CrackPart(pwszUrl, extra, length, &parts.lpszExtraInfo, &parts.dwExtraInfoLength);
    return fits ? Succeed() : Fail(ERROR_INSUFFICIENT_BUFFER);
  });
}

const char* VemtuInetMessageText(unsigned long code) { return FindMessage(kMessages, code); }
