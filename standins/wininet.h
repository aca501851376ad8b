// The WinINet subset the transport calls: names, signatures, flags, option numbers and
// error numbers as the Windows SDK spells them. Implemented by libWinInet.so.
#pragma once

#include "windows_types.h"

#define INTERNET_INVALID_PORT_NUMBER 0

#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_OPEN_TYPE_DIRECT 1
#define INTERNET_OPEN_TYPE_PROXY 3
#define INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY 4

#define INTERNET_SERVICE_HTTP 3

#define INTERNET_FLAG_RELOAD 0x80000000
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000
#define INTERNET_FLAG_SECURE 0x00800000
#define INTERNET_FLAG_KEEP_CONNECTION 0x00400000
#define INTERNET_FLAG_NO_AUTO_REDIRECT 0x00200000
#define INTERNET_FLAG_NO_AUTH 0x00040000
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP 0x00008000
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS 0x00004000
#define INTERNET_FLAG_IGNORE_CERT_DATE_INVALID 0x00002000
#define INTERNET_FLAG_IGNORE_CERT_CN_INVALID 0x00001000
#define INTERNET_FLAG_PRAGMA_NOCACHE 0x00000100

#define INTERNET_OPTION_CONNECT_TIMEOUT 2
#define INTERNET_OPTION_SEND_TIMEOUT 5
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6
#define INTERNET_OPTION_USERNAME 28
#define INTERNET_OPTION_PASSWORD 29
#define INTERNET_OPTION_SECURITY_FLAGS 31
#define INTERNET_OPTION_USER_AGENT 41
#define INTERNET_OPTION_PROXY_USERNAME 43
#define INTERNET_OPTION_PROXY_PASSWORD 44

// Only in these libraries: a request's whole send (from the send to the last read) ends
// with the time-out error once this many milliseconds have passed since the option was
// set. The transfer runs on the calling thread, so a caller needs no worker thread of
// its own to bound a send. A DWORD; 0 or 0xFFFFFFFF: no bound.
#ifndef VEMTU_OPTION_STEP_TIMEOUT
#define VEMTU_OPTION_STEP_TIMEOUT 0x56540001
#endif

#define HSR_INITIATE 0x00000008

#define HTTP_QUERY_CONTENT_LENGTH 5
#define HTTP_QUERY_STATUS_CODE 19
#define HTTP_QUERY_STATUS_TEXT 20
#define HTTP_QUERY_RAW_HEADERS_CRLF 22
#define HTTP_QUERY_CUSTOM 65535
#define HTTP_QUERY_FLAG_NUMBER 0x20000000

#define INTERNET_ERROR_BASE 12000
#define ERROR_INTERNET_OUT_OF_HANDLES (INTERNET_ERROR_BASE + 1)
#define ERROR_INTERNET_TIMEOUT (INTERNET_ERROR_BASE + 2)
#define ERROR_INTERNET_INTERNAL_ERROR (INTERNET_ERROR_BASE + 4)
#define ERROR_INTERNET_INVALID_URL (INTERNET_ERROR_BASE + 5)
#define ERROR_INTERNET_NAME_NOT_RESOLVED (INTERNET_ERROR_BASE + 7)
#define ERROR_INTERNET_INVALID_OPTION (INTERNET_ERROR_BASE + 9)
#define ERROR_INTERNET_BAD_OPTION_LENGTH (INTERNET_ERROR_BASE + 10)
#define ERROR_INTERNET_LOGIN_FAILURE (INTERNET_ERROR_BASE + 15)
#define ERROR_INTERNET_OPERATION_CANCELLED (INTERNET_ERROR_BASE + 17)
#define ERROR_INTERNET_INCORRECT_HANDLE_TYPE (INTERNET_ERROR_BASE + 18)
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE (INTERNET_ERROR_BASE + 19)
#define ERROR_INTERNET_CANNOT_CONNECT (INTERNET_ERROR_BASE + 29)
#define ERROR_INTERNET_CONNECTION_ABORTED (INTERNET_ERROR_BASE + 30)
#define ERROR_INTERNET_CONNECTION_RESET (INTERNET_ERROR_BASE + 31)
#define ERROR_INTERNET_FORCE_RETRY (INTERNET_ERROR_BASE + 32)
#define ERROR_INTERNET_SEC_CERT_DATE_INVALID (INTERNET_ERROR_BASE + 37)
#define ERROR_INTERNET_SEC_CERT_CN_INVALID (INTERNET_ERROR_BASE + 38)
#define ERROR_INTERNET_INVALID_CA (INTERNET_ERROR_BASE + 45)
#define ERROR_HTTP_HEADER_NOT_FOUND (INTERNET_ERROR_BASE + 150)
#define ERROR_HTTP_INVALID_SERVER_RESPONSE (INTERNET_ERROR_BASE + 152)
#define ERROR_HTTP_INVALID_QUERY_REQUEST (INTERNET_ERROR_BASE + 154)
#define ERROR_INTERNET_SECURITY_CHANNEL_ERROR (INTERNET_ERROR_BASE + 157)

typedef struct _INTERNET_BUFFERSA {
  DWORD dwStructSize;
  struct _INTERNET_BUFFERSA* Next;
  LPCSTR lpcszHeader;
  DWORD dwHeadersLength;
  DWORD dwHeadersTotal;
  LPVOID lpvBuffer;
  DWORD dwBufferLength;
  DWORD dwBufferTotal;
  DWORD dwOffsetLow;
  DWORD dwOffsetHigh;
} INTERNET_BUFFERSA, *LPINTERNET_BUFFERSA;

VEMTU_INET_API HINTERNET WINAPI InternetOpenA(LPCSTR lpszAgent, DWORD dwAccessType,
                                              LPCSTR lpszProxy, LPCSTR lpszProxyBypass,
                                              DWORD dwFlags);
VEMTU_INET_API HINTERNET WINAPI InternetConnectA(HINTERNET hInternet, LPCSTR lpszServerName,
                                                 INTERNET_PORT nServerPort, LPCSTR lpszUserName,
                                                 LPCSTR lpszPassword, DWORD dwService,
                                                 DWORD dwFlags, DWORD_PTR dwContext);
VEMTU_INET_API HINTERNET WINAPI HttpOpenRequestA(HINTERNET hConnect, LPCSTR lpszVerb,
                                                 LPCSTR lpszObjectName, LPCSTR lpszVersion,
                                                 LPCSTR lpszReferrer, LPCSTR* lplpszAcceptTypes,
                                                 DWORD dwFlags, DWORD_PTR dwContext);
VEMTU_INET_API BOOL WINAPI HttpSendRequestExA(HINTERNET hRequest, LPINTERNET_BUFFERSA lpBuffersIn,
                                              LPINTERNET_BUFFERSA lpBuffersOut, DWORD dwFlags,
                                              DWORD_PTR dwContext);
VEMTU_INET_API BOOL WINAPI InternetWriteFile(HINTERNET hFile, LPCVOID lpBuffer,
                                             DWORD dwNumberOfBytesToWrite,
                                             LPDWORD lpdwNumberOfBytesWritten);
VEMTU_INET_API BOOL WINAPI HttpEndRequestA(HINTERNET hRequest, LPINTERNET_BUFFERSA lpBuffersOut,
                                           DWORD dwFlags, DWORD_PTR dwContext);
VEMTU_INET_API BOOL WINAPI HttpQueryInfoA(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                                          LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);
VEMTU_INET_API BOOL WINAPI InternetQueryDataAvailable(HINTERNET hFile,
                                                      LPDWORD lpdwNumberOfBytesAvailable,
                                                      DWORD dwFlags, DWORD_PTR dwContext);
VEMTU_INET_API BOOL WINAPI InternetReadFile(HINTERNET hFile, LPVOID lpBuffer,
                                            DWORD dwNumberOfBytesToRead,
                                            LPDWORD lpdwNumberOfBytesRead);
VEMTU_INET_API BOOL WINAPI InternetQueryOptionA(HINTERNET hInternet, DWORD dwOption,
                                                LPVOID lpBuffer, LPDWORD lpdwBufferLength);
VEMTU_INET_API BOOL WINAPI InternetSetOptionA(HINTERNET hInternet, DWORD dwOption,
                                              LPVOID lpBuffer, DWORD dwBufferLength);
VEMTU_INET_API BOOL WINAPI InternetCloseHandle(HINTERNET hInternet);
