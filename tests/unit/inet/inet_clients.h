// Test clients that drive the stand-ins the way the transport does: open, connect, open
// the request, stream the body in chunks, end the request (resending when told to),
// read the status and the reply. WinHTTP is bound at run time by name.
#pragma once

#include <cstdint>
#include <string>

#include "platform/library.h"
#include "winhttp.h"

namespace vemtu::test {

struct PostPlan {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string object = "/post";
  bool secure = false;
  DWORD access = 1;             // direct (both libraries number it 1)
  std::string proxy;            // proxy list for the session
  std::string proxy_user;
  std::string proxy_password;
  std::string body;
  std::size_t chunk = 4096;     // bytes per write
  int pause_ms = 0;             // pause after each write
  DWORD timeout_ms = 0;         // receive time-out (0: the library's default)
  DWORD security_ignore = 0;    // WinHTTP: SECURITY_FLAG_IGNORE_* to set on the request
};

struct PostResult {
  DWORD error = 0;         // 0, or the code of the call that failed
  std::string failed;      // name of that call
  DWORD status = 0;
  std::string reply;
  int sends = 0;           // how often the request went out
};

PostResult PostWinInet(const PostPlan& plan);

// The WinHTTP functions resolved by name from a loaded library.
struct WinHttpBinding {
  platform::Library library;
  decltype(&::WinHttpOpen) Open;
  decltype(&::WinHttpConnect) Connect;
  decltype(&::WinHttpOpenRequest) OpenRequest;
  decltype(&::WinHttpSetCredentials) SetCredentials;
  decltype(&::WinHttpSendRequest) SendRequest;
  decltype(&::WinHttpWriteData) WriteData;
  decltype(&::WinHttpReceiveResponse) ReceiveResponse;
  decltype(&::WinHttpQueryHeaders) QueryHeaders;
  decltype(&::WinHttpQueryAuthSchemes) QueryAuthSchemes;
  decltype(&::WinHttpCloseHandle) CloseHandle;
  decltype(&::WinHttpQueryDataAvailable) QueryDataAvailable;
  decltype(&::WinHttpReadData) ReadData;
  decltype(&::WinHttpSetOption) SetOption;
  decltype(&::WinHttpSetTimeouts) SetTimeouts;
};
// Loads `name` ("WinHttp.dll" maps to libWinHttp.so beside the test program) and
// resolves the entry points; nullptr when the library or an entry point is missing.
const WinHttpBinding* BindWinHttp();
PostResult PostWinHttp(const WinHttpBinding& api, const PostPlan& plan);

}  // namespace vemtu::test
