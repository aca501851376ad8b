// The WinINet entry points of libWinInet.so: sessions, connections and requests as
// handles, each request sent on curl with its body streamed as the caller writes it.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api_support.h"
#include "entry_steps.h"
#include "proxy_list.h"
#include "request_core.h"
#include "response_head.h"
#include "winhttp.h"  // the scheme bits of OfferedSchemes
#include "wininet.h"

namespace vemtu::inet {
namespace {

constexpr FailureCodes kCodes = {{
    ERROR_SUCCESS,                          // kNone
    ERROR_INTERNET_CANNOT_CONNECT,          // kCannotConnect
    ERROR_INTERNET_TIMEOUT,                 // kTimeout
    ERROR_INTERNET_NAME_NOT_RESOLVED,       // kNameNotResolved
    ERROR_INTERNET_CONNECTION_ABORTED,      // kConnectionAborted
    ERROR_INTERNET_CONNECTION_RESET,        // kConnectionReset
    ERROR_HTTP_INVALID_SERVER_RESPONSE,     // kInvalidResponse
    ERROR_INTERNET_INVALID_CA,              // kUnknownAuthority
    ERROR_INTERNET_SEC_CERT_DATE_INVALID,   // kCertificateDate
    ERROR_INTERNET_SEC_CERT_CN_INVALID,     // kCertificateName
    ERROR_INTERNET_SECURITY_CHANNEL_ERROR,  // kSecureChannel
    ERROR_INTERNET_OPERATION_CANCELLED,     // kCancelled
    ERROR_NOT_ENOUGH_MEMORY,                // kOutOfMemory
    ERROR_INTERNET_INVALID_URL,             // kInvalidUrl
    ERROR_INTERNET_LOGIN_FAILURE,           // kLoginFailure
    ERROR_INTERNET_FORCE_RETRY,             // kResend
    ERROR_INTERNET_INCORRECT_HANDLE_STATE,  // kNotSent
    ERROR_INVALID_PARAMETER,  // kBadArgument
    ERROR_INTERNET_INTERNAL_ERROR,          // kInternal
}};

// Texts end in CRLF, as the system's message tables give them.
const MessageRow kMessages[] = {
    {ERROR_INTERNET_OUT_OF_HANDLES, "No more handles could be generated at this time.\r\n"},
    {ERROR_INTERNET_TIMEOUT, "The operation timed out\r\n"},
    {ERROR_INTERNET_INTERNAL_ERROR, "An internal error occurred.\r\n"},
    {ERROR_INTERNET_INVALID_URL, "The URL is invalid.\r\n"},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "The server name or address could not be resolved\r\n"},
    {ERROR_INTERNET_INVALID_OPTION, "The option is invalid.\r\n"},
    {ERROR_INTERNET_BAD_OPTION_LENGTH, "The length is incorrect for the option type.\r\n"},
    {ERROR_INTERNET_LOGIN_FAILURE, "The login attempt failed.\r\n"},
    {ERROR_INTERNET_OPERATION_CANCELLED, "The operation was canceled.\r\n"},
    {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, "The supplied handle is the wrong type for the requested operation.\r\n"},
    {ERROR_INTERNET_INCORRECT_HANDLE_STATE, "The handle is in the wrong state for the requested operation.\r\n"},
    {ERROR_INTERNET_CANNOT_CONNECT, "A connection with the server could not be established\r\n"},
    {ERROR_INTERNET_CONNECTION_ABORTED, "The connection with the server was terminated abnormally\r\n"},
    {ERROR_INTERNET_CONNECTION_RESET, "The connection with the server was reset\r\n"},
    {ERROR_INTERNET_FORCE_RETRY, "The action must be retried.\r\n"},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, "The date in the certificate is invalid or has expired\r\n"},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, "The host name in the certificate is invalid or does not match\r\n"},
    {ERROR_INTERNET_INVALID_CA, "The certificate authority is invalid or incorrect\r\n"},
    {ERROR_HTTP_HEADER_NOT_FOUND, "The requested header was not found\r\n"},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "The server returned an invalid or unrecognized response\r\n"},
    {ERROR_HTTP_INVALID_QUERY_REQUEST, "The request made to HttpQueryInfo is invalid.\r\n"},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "An error occurred in the secure channel support\r\n"},
};

// ---- Handle objects ----

// What every handle carries and passes on to the handles made from it.
struct InetObject : HandleObject {
  Timeouts timeouts;
  std::string user, password;              // server credentials
  std::string proxy_user, proxy_password;  // proxy credentials
};

struct InetSession : InetObject {
  std::string agent;
  DWORD access = INTERNET_OPEN_TYPE_PRECONFIG;
  std::string proxy;
  std::string bypass;
};

struct InetConnection : InetObject {
  std::shared_ptr<InetSession> session;
  std::string host;
  INTERNET_PORT port = 0;
};

// Curl handles and their kept-alive connections, for the whole process (see curl_handles.h).
HandlePool& Pool() {
  static auto* pool = new HandlePool();  // handles may outlive statics
  return *pool;
}

struct InetRequest : InetObject {
  std::shared_ptr<InetConnection> connection;
  std::string verb;
  std::string object;
  bool http10 = false;
  DWORD flags = 0;
  DWORD security_flags = 0;
  std::vector<std::string> headers;
  // Credentials are offered after a challenge asked for them, and then for every resend
  // (the caller resends when HttpEndRequestA fails with ERROR_INTERNET_FORCE_RETRY).
  unsigned long proxy_scheme = 0;
  unsigned long server_scheme = 0;
  RequestCore core{Pool()};

  void Cancel() override { core.Cancel(); }
  bool secure() const { return flags & INTERNET_FLAG_SECURE; }
};

HandleTable& Handles() {
  static auto* table = new HandleTable;  // lives as long as the process: handles may too
  return *table;
}

std::string Text(LPCSTR text) { return text ? text : ""; }

template <typename T>
std::shared_ptr<T> Find(HINTERNET handle) {
  return Lookup<T>(Handles(), handle, ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
}

const Library& Api() {
  static const Library library{Handles(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE, kCodes};
  return library;
}

// The scheme a challenge is answered with (as a CURLAUTH_* mask), in the order the
// system library prefers; credentials are given only with a user name.
unsigned long ChosenScheme(const std::string& head, const char* header) {
  std::uint32_t first = 0;
  std::uint32_t offered = OfferedSchemes(head, header, &first);
  return CurlSchemeWithUser(PreferredScheme(offered), offered);
}

ExchangeSettings SettingsFor(const InetRequest& request, std::uint64_t total) {
  const InetConnection& connection = *request.connection;
  const InetSession& session = *connection.session;
  ExchangeSettings settings;
  INTERNET_PORT port = connection.port != INTERNET_INVALID_PORT_NUMBER
                           ? connection.port
                           : (request.secure() ? INTERNET_DEFAULT_HTTPS_PORT
                                               : INTERNET_DEFAULT_HTTP_PORT);
  settings.method = request.verb;
  settings.http10 = request.http10;
  // The system library's head, in its order.
  settings.headers.push_back(HostLine(connection.host, port, request.secure()));
  if (BodyAnnounced(request.verb, total)) {
    settings.headers.push_back("Content-Length: " + std::to_string(total));
  }
  if (!session.agent.empty()) settings.headers.push_back("User-Agent: " + session.agent);
  if (request.flags & INTERNET_FLAG_RELOAD) settings.headers.push_back("Cache-Control: no-cache");
  settings.headers.push_back("Connection: Keep-Alive");
  settings.headers.insert(settings.headers.end(), request.headers.begin(), request.headers.end());
  ChooseProxy(settings, session.access, session.proxy, session.bypass, connection.host,
              request.secure());
  if (request.proxy_scheme != 0) {
    settings.proxy_credentials = {request.proxy_scheme, request.proxy_user, request.proxy_password};
  }
  if (request.server_scheme != 0) {
    settings.server_credentials = {request.server_scheme, request.user, request.password};
  }
  settings.security_ignore = request.security_flags;
  settings.connect_timeout_ms = request.timeouts.connect_ms;
  SetTarget(settings,
            std::string(request.secure() ? "https://" : "http://") + UrlHost(connection.host) +
                ":" + std::to_string(port),
            request.object, request.secure());
  settings.body_length = total;
  return settings;
}

// Copies a text answer into a caller's buffer the way the query functions do: the
// length without the zero on success, the length with it when the buffer is too small.
BOOL AnswerText(const std::string& text, LPVOID buffer, LPDWORD length) {
  if (!buffer || *length < text.size() + 1) {
    *length = static_cast<DWORD>(text.size() + 1);
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  *length = static_cast<DWORD>(text.size());
  return Succeed();
}

// A text option value: `length` bytes, up to a zero if there is one.
std::string OptionText(LPVOID buffer, DWORD length) {
  const char* text = static_cast<const char*>(buffer);
  std::size_t size = 0;
  while (size < length && text[size] != '\0') ++size;
  return std::string(text, size);
}

std::uint32_t* TimeoutField(Timeouts& timeouts, DWORD option) {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT: return &timeouts.connect_ms;
    case INTERNET_OPTION_SEND_TIMEOUT: return &timeouts.send_ms;
    case INTERNET_OPTION_RECEIVE_TIMEOUT: return &timeouts.receive_ms;
    default: return nullptr;
  }
}

std::string* TextField(InetObject& object, DWORD option) {
  switch (option) {
    case INTERNET_OPTION_USERNAME: return &object.user;
    case INTERNET_OPTION_PASSWORD: return &object.password;
    case INTERNET_OPTION_PROXY_USERNAME: return &object.proxy_user;
    case INTERNET_OPTION_PROXY_PASSWORD: return &object.proxy_password;
    default: return nullptr;
  }
}

}  // namespace
}  // namespace vemtu::inet

using namespace vemtu::inet;

// ---- Sessions, connections, requests ----

HINTERNET WINAPI InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType, LPCSTR lpszProxy,
                               LPCSTR lpszProxyBypass, DWORD) {
  return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
    if (dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG && dwAccessType != INTERNET_OPEN_TYPE_DIRECT &&
        dwAccessType != INTERNET_OPEN_TYPE_PROXY &&
        dwAccessType != INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY) {
      return FailNull(ERROR_INVALID_PARAMETER);
    }
    if (dwAccessType == INTERNET_OPEN_TYPE_PROXY && Text(lpszProxy).empty()) {
      return FailNull(ERROR_INVALID_PARAMETER);
    }
    InitCurlOnce();
    auto session = std::make_shared<InetSession>();
    // The system's defaults: a minute to connect, 30 s without progress while sending
    // or receiving.
    session->timeouts.connect_ms = 60000;
    session->timeouts.send_ms = 30000;
    session->timeouts.receive_ms = 30000;
    session->agent = Text(lpszAgent);
    session->access = dwAccessType;
    if (dwAccessType == INTERNET_OPEN_TYPE_PROXY) {
      session->proxy = Text(lpszProxy);
      session->bypass = Text(lpszProxyBypass);
    }
    HINTERNET handle = Handles().Add(session);
    errno = 0;
    return handle;
  });
}

HINTERNET WINAPI InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName,
                                  INTERNET_PORT nServerPort, LPCSTR lpszUserName,
                                  LPCSTR lpszPassword, DWORD dwService, DWORD, DWORD_PTR) {
  return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
    auto session = Find<InetSession>(hInternet);
    if (!session) return nullptr;
    if (dwService != INTERNET_SERVICE_HTTP || Text(lpszServerName).empty()) {
      return FailNull(ERROR_INVALID_PARAMETER);
    }
    auto connection = std::make_shared<InetConnection>();
    static_cast<InetObject&>(*connection) = static_cast<const InetObject&>(*session);
    connection->session = session;
    connection->host = lpszServerName;
    connection->port = nServerPort;
    if (lpszUserName && *lpszUserName) connection->user = lpszUserName;
    if (lpszPassword && *lpszPassword) connection->password = lpszPassword;
    HINTERNET handle = Handles().Add(connection);
    errno = 0;
    return handle;
  });
}

HINTERNET WINAPI HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb, LPCSTR lpszObjectName,
                                  LPCSTR lpszVersion, LPCSTR lpszReferrer,
                                  LPCSTR* lplpszAcceptTypes, DWORD dwFlags, DWORD_PTR) {
  return Guarded<HINTERNET>(nullptr, [&]() -> HINTERNET {
    auto connection = Find<InetConnection>(hConnect);
    if (!connection) return nullptr;
    std::string object = Text(lpszObjectName);
    if (object.empty() || object.front() != '/') object.insert(0, "/");
    // A space or a control byte would break the request line; callers encode them.
    if (!ValidObjectName(object)) return FailNull(ERROR_INTERNET_INVALID_URL);

    auto request = std::make_shared<InetRequest>();
    if (!request->core.usable()) return FailNull(ERROR_NOT_ENOUGH_MEMORY);
    static_cast<InetObject&>(*request) = static_cast<const InetObject&>(*connection);
    request->connection = connection;
    request->verb = lpszVerb && *lpszVerb ? lpszVerb : "GET";
    request->object = object;
    request->http10 = Text(lpszVersion) == "HTTP/1.0";
    request->flags = dwFlags;
    request->security_flags =
        dwFlags & (INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID);
    if (lpszReferrer && *lpszReferrer) request->headers.push_back(std::string("Referer: ") + lpszReferrer);
    if (lplpszAcceptTypes && *lplpszAcceptTypes) {
      std::string accept;
      for (LPCSTR* type = lplpszAcceptTypes; *type; ++type) {
        accept += (accept.empty() ? "" : ", ") + std::string(*type);
      }
      request->headers.push_back("Accept: " + accept);
    }
    HINTERNET handle = Handles().Add(request);
    errno = 0;
    return handle;
  });
}

// ---- Options ----

BOOL WINAPI InternetSetOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                               DWORD dwBufferLength) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto object = Find<InetObject>(hInternet);
    if (!object) return FALSE;
    if (!lpBuffer) return Fail(ERROR_INVALID_PARAMETER);
    if (std::uint32_t* field = TimeoutField(object->timeouts, dwOption)) {
      DWORD value = 0;
      if (!ReadDword(lpBuffer, dwBufferLength, &value)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
      *field = value == 0xFFFFFFFF ? 0 : value;
      return Succeed();
    }
    if (std::string* field = TextField(*object, dwOption)) {
      *field = OptionText(lpBuffer, dwBufferLength);
      return Succeed();
    }
    if (dwOption == INTERNET_OPTION_SECURITY_FLAGS) {
      auto request = std::dynamic_pointer_cast<InetRequest>(object);
      if (!request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      DWORD value = 0;
      if (!ReadDword(lpBuffer, dwBufferLength, &value)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
      request->security_flags = value;
      return Succeed();
    }
    if (dwOption == VEMTU_OPTION_STEP_TIMEOUT) {
      auto request = std::dynamic_pointer_cast<InetRequest>(object);
      if (!request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      DWORD value = 0;
      if (!ReadDword(lpBuffer, dwBufferLength, &value)) return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
      request->core.SetStepTimeout(value == 0xFFFFFFFF ? 0 : value);
      return Succeed();
    }
    if (dwOption == INTERNET_OPTION_USER_AGENT) {
      auto session = std::dynamic_pointer_cast<InetSession>(object);
      if (!session) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      session->agent = OptionText(lpBuffer, dwBufferLength);
      return Succeed();
    }
    return Fail(ERROR_INTERNET_INVALID_OPTION);
  });
}

BOOL WINAPI InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                 LPDWORD lpdwBufferLength) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto object = Find<InetObject>(hInternet);
    if (!object) return FALSE;
    if (!lpdwBufferLength) return Fail(ERROR_INVALID_PARAMETER);
    if (std::uint32_t* field = TimeoutField(object->timeouts, dwOption)) {
      return AnswerNumber(*field == 0 ? 0xFFFFFFFF : *field, lpBuffer, lpdwBufferLength);
    }
    if (std::string* field = TextField(*object, dwOption)) {
      return AnswerText(*field, lpBuffer, lpdwBufferLength);
    }
    if (dwOption == INTERNET_OPTION_SECURITY_FLAGS) {
      auto request = std::dynamic_pointer_cast<InetRequest>(object);
      if (!request) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      DWORD value = request->security_flags | (request->secure() ? SECURITY_FLAG_SECURE : 0);
      return AnswerNumber(value, lpBuffer, lpdwBufferLength);
    }
    if (dwOption == INTERNET_OPTION_USER_AGENT) {
      auto session = std::dynamic_pointer_cast<InetSession>(object);
      if (!session) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
      return AnswerText(session->agent, lpBuffer, lpdwBufferLength);
    }
    return Fail(ERROR_INTERNET_INVALID_OPTION);
  });
}

// ---- Sending and receiving ----

BOOL WINAPI HttpSendRequestExA(HINTERNET hRequest, LPINTERNET_BUFFERSA lpBuffersIn,
                               LPINTERNET_BUFFERSA, DWORD, DWORD_PTR) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto request = Find<InetRequest>(hRequest);
    if (!request) return FALSE;
    std::uint64_t total = 0;
    std::vector<std::string> extra;
    const char* initial = nullptr;
    DWORD initial_size = 0;
    if (lpBuffersIn) {
      total = lpBuffersIn->dwBufferTotal;
      if (lpBuffersIn->lpcszHeader) {
        DWORD length = lpBuffersIn->dwHeadersLength;
        extra = HeaderLines(length == 0xFFFFFFFF || length == 0
                                ? std::string(lpBuffersIn->lpcszHeader)
                                : std::string(lpBuffersIn->lpcszHeader, length));
      }
      if (lpBuffersIn->lpvBuffer && lpBuffersIn->dwBufferLength > 0) {
        initial = static_cast<const char*>(lpBuffersIn->lpvBuffer);
        initial_size = lpBuffersIn->dwBufferLength;
        if (total < initial_size) total = initial_size;
      }
    }
    ExchangeSettings settings = SettingsFor(*request, total);
    settings.headers.insert(settings.headers.end(), extra.begin(), extra.end());
    Failure failure = request->core.Send(std::move(settings), initial, initial_size);
    return failure == Failure::kNone ? Succeed() : Fail(kCodes[failure]);
  });
}

BOOL WINAPI InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer, DWORD dwNumberOfBytesToWrite,
                              LPDWORD lpdwNumberOfBytesWritten) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    return WriteStep<InetRequest>(Api(), hFile, lpBuffer, dwNumberOfBytesToWrite,
                                  lpdwNumberOfBytesWritten);
  });
}

BOOL WINAPI HttpEndRequestA(HINTERNET hRequest, LPINTERNET_BUFFERSA, DWORD, DWORD_PTR) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto request = Find<InetRequest>(hRequest);
    if (!request) return FALSE;
    Failure failure = request->core.Receive(request->timeouts.receive_ms);
    if (failure != Failure::kNone) return Fail(kCodes[failure]);
    // A challenge that credentials set on the handle can answer: the caller sends the
    // request again, and this time they go with it.
    long status = request->core.Status();
    if (status == 407 && request->proxy_scheme == 0 && !request->proxy_user.empty()) {
      request->proxy_scheme = ChosenScheme(request->core.Head(), "Proxy-Authenticate");
      if (request->proxy_scheme != 0) return Fail(ERROR_INTERNET_FORCE_RETRY);
    }
    if (status == 401 && request->server_scheme == 0 && !request->user.empty()) {
      request->server_scheme = ChosenScheme(request->core.Head(), "WWW-Authenticate");
      if (request->server_scheme != 0) return Fail(ERROR_INTERNET_FORCE_RETRY);
    }
    return Succeed();
  });
}

BOOL WINAPI HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                           LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    auto request = Find<InetRequest>(hRequest);
    if (!request) return FALSE;
    if (!lpdwBufferLength) return Fail(ERROR_INVALID_PARAMETER);
    long status = request->core.Status();
    if (status == 0) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    if (lpdwIndex && *lpdwIndex > 0) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    std::string head = request->core.Head();
    std::string value;
    bool found = true;
    switch (dwInfoLevel & 0xFFFF) {
      case HTTP_QUERY_STATUS_CODE:
        value = std::to_string(status);
        break;
      case HTTP_QUERY_STATUS_TEXT:
        value = StatusText(head);
        break;
      case HTTP_QUERY_RAW_HEADERS_CRLF:
        value = head;
        break;
      case HTTP_QUERY_CONTENT_LENGTH:
        value = HeaderValue(head, "Content-Length", &found);
        break;
      case HTTP_QUERY_CUSTOM:
        if (!lpBuffer) return Fail(ERROR_INVALID_PARAMETER);
        value = HeaderValue(head, static_cast<const char*>(lpBuffer), &found);
        break;
      default:
        return Fail(ERROR_HTTP_INVALID_QUERY_REQUEST);
    }
    if (!found) return Fail(ERROR_HTTP_HEADER_NOT_FOUND);
    if (lpdwIndex) *lpdwIndex = 1;
    if (dwInfoLevel & HTTP_QUERY_FLAG_NUMBER) {
      return AnswerNumber(static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10)), lpBuffer,
                          lpdwBufferLength);
    }
    return AnswerText(value, lpBuffer, lpdwBufferLength);
  });
}

BOOL WINAPI InternetQueryDataAvailable(HINTERNET hFile, LPDWORD lpdwNumberOfBytesAvailable,
                                       DWORD, DWORD_PTR) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    return AvailableStep<InetRequest>(Api(), hFile, lpdwNumberOfBytesAvailable);
  });
}

BOOL WINAPI InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                             LPDWORD lpdwNumberOfBytesRead) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    return ReadStep<InetRequest>(Api(), hFile, lpBuffer, dwNumberOfBytesToRead,
                                 lpdwNumberOfBytesRead);
  });
}

BOOL WINAPI InternetCloseHandle(HINTERNET hInternet) { return CloseStep(Api(), hInternet); }

const char* VemtuInetMessageText(unsigned long code) { return FindMessage(kMessages, code); }
