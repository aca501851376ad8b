// CZWinHTTPConnect: one HTTP POST exchange over WinHTTP, bound at run time, with server
// and proxy authentication inside the exchange and a configurable body chunk size and
// pause. One instance lives for the whole process; it is reset after every attempt.
// Wide texts are UTF-16 (the platform's WCHAR), passed as char16_t.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "transport/body_source.h"
#include "transport/worker_step.h"

namespace vemtu {

class CZWinHTTPConnect {
 public:
  static constexpr std::uint32_t kAccessDefaultProxy = 0;  // WINHTTP_ACCESS_TYPE_DEFAULT_PROXY
  static constexpr std::uint32_t kAccessNoProxy = 1;       // WINHTTP_ACCESS_TYPE_NO_PROXY
  static constexpr std::uint32_t kAccessNamedProxy = 3;    // WINHTTP_ACCESS_TYPE_NAMED_PROXY
  static constexpr int kDefaultChunkSize = 4096;
  static constexpr int kMaxChunkSize = 5120;  // the chunk buffer's size
  static constexpr std::size_t kWideChars = 360;

  // `timeout_ms`: the longest wait for one worker and the session's connect time-out
  // (tests shorten it). `library_names`: the library tried first and its fall-back.
  explicit CZWinHTTPConnect(unsigned long timeout_ms = kWorkerTimeoutMs,
                            std::string library_name = "WinHttp.dll",
                            std::string fallback_library_name = "WinHttp5.dll");
  virtual ~CZWinHTTPConnect();
  CZWinHTTPConnect(const CZWinHTTPConnect&) = delete;
  CZWinHTTPConnect& operator=(const CZWinHTTPConnect&) = delete;

  // Binds the library: the first name, checked with WinHttpCheckPlatform where it has
  // it, else the fall-back; then the 14 entry points by name. 1 when all were found.
  int ZLoadWinHttp();
  // Frees the library and forgets the entry points; always 1.
  int ZUnloadWinHttp();
  // Reads "NumberOfBytesToWrite" and "WriteDataDelay" of [ConfigWebPostWriteData]; a
  // value above 0 replaces the current one. A chunk size above 5120 is taken as 5120,
  // the size of the buffer the chunks are cut into. Always 1.
  int ZReadWriteDataSettings(const std::string& config_ini_path);
  // Closes the request, connection and session handles (a worker still running keeps
  // them until it ends) and restores the fields; the library stays bound.
  void ZReset();

  int ZInternetOpen(const char16_t* agent_name, std::uint32_t access_type,
                    const char16_t* proxy);
  int ZInternetConnect(const char16_t* server_name, std::uint16_t port, const char16_t* scheme);
  // CR, LF, space and control characters of the object name are percent-encoded.
  int ZHTTPOpenRequest(const char16_t* object_name, const char16_t* verb);
  // Stores the non-empty values; they answer a proxy's challenge. Always 1.
  int ZSetProxyUserPassword(const char16_t* user_name, const char16_t* password);
  // As CZHTTPConnect::ZHTTPWebPost; `proxy_option` also sets the request proxy (see
  // SetRequestProxy) on the request itself.
  int ZHTTPWebPost(const char* body_file_path, const char* reply_file_path, const char* body_text,
                   int body_length, const char* prefix, const char* suffix,
                   std::string* reply_text, int* reply_length, bool proxy_option,
                   const HeldBody* held_body = nullptr);
  std::uint32_t ZGetLastError() const;

  // The proxy set on the request when ZHTTPWebPost is asked to: "address:port", cut at
  // 259 characters.
  void SetRequestProxy(const std::string& address, const std::string& port);

  bool IsBound() const;
  int write_chunk_size() const { return write_chunk_size_; }
  int write_delay_ms() const { return write_delay_ms_; }
  unsigned long timeout_ms() const { return timeout_ms_; }

  struct Api;      // the bound library and its entry points
  struct Handles;  // the session, connection and request handles and the last error

 private:
  bool RunStep(std::function<void()> step);
  void RecordLastError(std::uint32_t code);

  std::u16string agent_name_;
  std::u16string proxy_;
  std::u16string proxy_user_name_;
  std::u16string proxy_password_;
  std::u16string server_name_;
  std::u16string scheme_;
  std::u16string request_proxy_;
  std::uint16_t port_ = 0;
  std::uint32_t access_type_ = kAccessDefaultProxy;
  unsigned long timeout_ms_;
  std::string library_name_;
  std::string fallback_library_name_;
  int write_chunk_size_ = kDefaultChunkSize;
  int write_delay_ms_ = 0;
  std::shared_ptr<const Api> api_;
  std::shared_ptr<Handles> handles_;
};

}  // namespace vemtu
