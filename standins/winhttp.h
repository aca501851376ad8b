// The WinHTTP subset the transport binds: names, signatures, flags, option numbers and
// error numbers as the Windows SDK spells them. Implemented by libWinHttp.so, which the
// agent loads at run time and resolves by name.
#pragma once

#include "windows_types.h"

#define INTERNET_DEFAULT_PORT 0

typedef int INTERNET_SCHEME, *LPINTERNET_SCHEME;
#define INTERNET_SCHEME_HTTP 1
#define INTERNET_SCHEME_HTTPS 2

#define WINHTTP_FLAG_SECURE 0x00800000

#define WINHTTP_ACCESS_TYPE_DEFAULT_PROXY 0
#define WINHTTP_ACCESS_TYPE_NO_PROXY 1
#define WINHTTP_ACCESS_TYPE_NAMED_PROXY 3

#define WINHTTP_NO_PROXY_NAME nullptr
#define WINHTTP_NO_PROXY_BYPASS nullptr
#define WINHTTP_NO_REFERER nullptr
#define WINHTTP_DEFAULT_ACCEPT_TYPES nullptr
#define WINHTTP_NO_ADDITIONAL_HEADERS nullptr
#define WINHTTP_NO_REQUEST_DATA nullptr
#define WINHTTP_HEADER_NAME_BY_INDEX nullptr
#define WINHTTP_NO_OUTPUT_BUFFER nullptr
#define WINHTTP_NO_HEADER_INDEX nullptr
#define WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH 0

#define WINHTTP_OPTION_RESOLVE_TIMEOUT 2
#define WINHTTP_OPTION_CONNECT_TIMEOUT 3
#define WINHTTP_OPTION_SEND_TIMEOUT 5
#define WINHTTP_OPTION_RECEIVE_TIMEOUT 6
#define WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT 7
#define WINHTTP_OPTION_SECURITY_FLAGS 31
#define WINHTTP_OPTION_PROXY 38
#define WINHTTP_OPTION_USER_AGENT 41
#define WINHTTP_OPTION_USERNAME 0x1000
#define WINHTTP_OPTION_PASSWORD 0x1001
#define WINHTTP_OPTION_PROXY_USERNAME 0x1002
#define WINHTTP_OPTION_PROXY_PASSWORD 0x1003

// Only in these libraries: a request's whole send (from the send to the last read) ends
// with the time-out error once this many milliseconds have passed since the option was
// set. The transfer runs on the calling thread, so a caller needs no worker thread of
// its own to bound a send. A DWORD; 0 or 0xFFFFFFFF: no bound.
#ifndef VEMTU_OPTION_STEP_TIMEOUT
#define VEMTU_OPTION_STEP_TIMEOUT 0x56540001
#endif

#define WINHTTP_QUERY_CONTENT_LENGTH 5
#define WINHTTP_QUERY_STATUS_CODE 19
#define WINHTTP_QUERY_STATUS_TEXT 20
#define WINHTTP_QUERY_RAW_HEADERS_CRLF 22
#define WINHTTP_QUERY_CUSTOM 65535
#define WINHTTP_QUERY_FLAG_NUMBER 0x20000000

#define WINHTTP_AUTH_SCHEME_BASIC 0x00000001
#define WINHTTP_AUTH_SCHEME_NTLM 0x00000002
#define WINHTTP_AUTH_SCHEME_PASSPORT 0x00000004
#define WINHTTP_AUTH_SCHEME_DIGEST 0x00000008
#define WINHTTP_AUTH_SCHEME_NEGOTIATE 0x00000010
#define WINHTTP_AUTH_TARGET_SERVER 0x00000000
#define WINHTTP_AUTH_TARGET_PROXY 0x00000001

#define WINHTTP_ERROR_BASE 12000
#define ERROR_WINHTTP_OUT_OF_HANDLES (WINHTTP_ERROR_BASE + 1)
#define ERROR_WINHTTP_TIMEOUT (WINHTTP_ERROR_BASE + 2)
#define ERROR_WINHTTP_INTERNAL_ERROR (WINHTTP_ERROR_BASE + 4)
#define ERROR_WINHTTP_INVALID_URL (WINHTTP_ERROR_BASE + 5)
#define ERROR_WINHTTP_UNRECOGNIZED_SCHEME (WINHTTP_ERROR_BASE + 6)
#define ERROR_WINHTTP_NAME_NOT_RESOLVED (WINHTTP_ERROR_BASE + 7)
#define ERROR_WINHTTP_INVALID_OPTION (WINHTTP_ERROR_BASE + 9)
#define ERROR_WINHTTP_LOGIN_FAILURE (WINHTTP_ERROR_BASE + 15)
#define ERROR_WINHTTP_OPERATION_CANCELLED (WINHTTP_ERROR_BASE + 17)
#define ERROR_WINHTTP_INCORRECT_HANDLE_TYPE (WINHTTP_ERROR_BASE + 18)
#define ERROR_WINHTTP_INCORRECT_HANDLE_STATE (WINHTTP_ERROR_BASE + 19)
#define ERROR_WINHTTP_CANNOT_CONNECT (WINHTTP_ERROR_BASE + 29)
#define ERROR_WINHTTP_CONNECTION_ERROR (WINHTTP_ERROR_BASE + 30)
#define ERROR_WINHTTP_RESEND_REQUEST (WINHTTP_ERROR_BASE + 32)
#define ERROR_WINHTTP_HEADER_NOT_FOUND (WINHTTP_ERROR_BASE + 150)
#define ERROR_WINHTTP_INVALID_SERVER_RESPONSE (WINHTTP_ERROR_BASE + 152)
#define ERROR_WINHTTP_INVALID_QUERY_REQUEST (WINHTTP_ERROR_BASE + 154)
#define ERROR_WINHTTP_SECURE_CHANNEL_ERROR (WINHTTP_ERROR_BASE + 157)
#define ERROR_WINHTTP_SECURE_FAILURE (WINHTTP_ERROR_BASE + 175)

typedef struct {
  DWORD dwAccessType;
  LPWSTR lpszProxy;
  LPWSTR lpszProxyBypass;
} WINHTTP_PROXY_INFO, *LPWINHTTP_PROXY_INFO;
typedef WINHTTP_PROXY_INFO WINHTTP_PROXY_INFOW;

typedef struct {
  DWORD dwStructSize;
  LPWSTR lpszScheme;
  DWORD dwSchemeLength;
  INTERNET_SCHEME nScheme;
  LPWSTR lpszHostName;
  DWORD dwHostNameLength;
  INTERNET_PORT nPort;
  LPWSTR lpszUserName;
  DWORD dwUserNameLength;
  LPWSTR lpszPassword;
  DWORD dwPasswordLength;
  LPWSTR lpszUrlPath;
  DWORD dwUrlPathLength;
  LPWSTR lpszExtraInfo;
  DWORD dwExtraInfoLength;
} URL_COMPONENTS, *LPURL_COMPONENTS;
typedef URL_COMPONENTS URL_COMPONENTSW;
typedef LPURL_COMPONENTS LPURL_COMPONENTSW;

VEMTU_INET_API BOOL WINAPI WinHttpCheckPlatform(void);
VEMTU_INET_API HINTERNET WINAPI WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType,
                                            LPCWSTR pszProxyW, LPCWSTR pszProxyBypassW,
                                            DWORD dwFlags);
VEMTU_INET_API HINTERNET WINAPI WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName,
                                               INTERNET_PORT nServerPort, DWORD dwReserved);
VEMTU_INET_API HINTERNET WINAPI WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb,
                                                   LPCWSTR pwszObjectName, LPCWSTR pwszVersion,
                                                   LPCWSTR pwszReferrer,
                                                   LPCWSTR* ppwszAcceptTypes, DWORD dwFlags);
VEMTU_INET_API BOOL WINAPI WinHttpSetCredentials(HINTERNET hRequest, DWORD AuthTargets,
                                                 DWORD AuthScheme, LPCWSTR pwszUserName,
                                                 LPCWSTR pwszPassword, LPVOID pAuthParams);
VEMTU_INET_API BOOL WINAPI WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders,
                                              DWORD dwHeadersLength, LPVOID lpOptional,
                                              DWORD dwOptionalLength, DWORD dwTotalLength,
                                              DWORD_PTR dwContext);
VEMTU_INET_API BOOL WINAPI WinHttpWriteData(HINTERNET hRequest, LPCVOID lpBuffer,
                                            DWORD dwNumberOfBytesToWrite,
                                            LPDWORD lpdwNumberOfBytesWritten);
VEMTU_INET_API BOOL WINAPI WinHttpReceiveResponse(HINTERNET hRequest, LPVOID lpReserved);
VEMTU_INET_API BOOL WINAPI WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel,
                                               LPCWSTR pwszName, LPVOID lpBuffer,
                                               LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);
VEMTU_INET_API BOOL WINAPI WinHttpQueryAuthSchemes(HINTERNET hRequest,
                                                   LPDWORD lpdwSupportedSchemes,
                                                   LPDWORD lpdwFirstScheme,
                                                   LPDWORD pdwAuthTarget);
VEMTU_INET_API BOOL WINAPI WinHttpCloseHandle(HINTERNET hInternet);
VEMTU_INET_API BOOL WINAPI WinHttpQueryDataAvailable(HINTERNET hRequest,
                                                     LPDWORD lpdwNumberOfBytesAvailable);
VEMTU_INET_API BOOL WINAPI WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer,
                                           DWORD dwNumberOfBytesToRead,
                                           LPDWORD lpdwNumberOfBytesRead);
VEMTU_INET_API BOOL WINAPI WinHttpCrackUrl(LPCWSTR pwszUrl, DWORD dwUrlLength, DWORD dwFlags,
                                           LPURL_COMPONENTS lpUrlComponents);
VEMTU_INET_API BOOL WINAPI WinHttpSetOption(HINTERNET hInternet, DWORD dwOption,
                                            LPVOID lpBuffer, DWORD dwBufferLength);
VEMTU_INET_API BOOL WINAPI WinHttpSetTimeouts(HINTERNET hInternet, int nResolveTimeout,
                                              int nConnectTimeout, int nSendTimeout,
                                              int nReceiveTimeout);
