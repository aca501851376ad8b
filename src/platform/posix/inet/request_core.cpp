#include "request_core.h"

#include <cerrno>
#include <mutex>

#include "proxy_list.h"

namespace vemtu::inet {

void SetTarget(ExchangeSettings& settings, const std::string& origin, const std::string& object,
               bool secure) {
  bool absolute_form =
      !secure && (settings.proxy_mode == ProxyMode::kNamed ||
                  (settings.proxy_mode == ProxyMode::kEnvironment && EnvironmentNamesProxy(false)));
  std::string path;
  for (char c : object) {
    if (c == '#') path += "%23";  // in a URL it would start a fragment
    else path += c;
  }
  settings.url = origin + path;
  settings.request_target = absolute_form ? "" : object;
}

bool WantsContinue(const ExchangeSettings& settings, bool secure) {
  constexpr std::uint64_t kLargeBody = 64 * 1024;
  bool proxied = settings.proxy_mode == ProxyMode::kNamed ||
                 (settings.proxy_mode == ProxyMode::kEnvironment && EnvironmentNamesProxy(false));
  return proxied && !secure && settings.proxy_credentials.scheme == 0 &&
         settings.body_length > kLargeBody;
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

RequestCore::RequestCore() {
  InitCurlOnce();
  easy_ = curl_easy_init();
}

RequestCore::~RequestCore() {
  // A call that drops the last reference reports its own error after this has run.
  int saved_errno = errno;
  std::shared_ptr<Exchange> last;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    last = std::move(exchange_);
  }
  if (last) last->Join();
  if (easy_) curl_easy_cleanup(easy_);
  errno = saved_errno;
}

Failure RequestCore::Send(ExchangeSettings settings) {
  if (!easy_) return Failure::kOutOfMemory;
  std::shared_ptr<Exchange> previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return Failure::kCancelled;
    previous = std::move(exchange_);
  }
  if (previous) previous->Join();  // the curl handle is idle again

  auto exchange = std::make_shared<Exchange>(easy_, &sockets_, std::move(settings));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    exchange_ = exchange;
    if (cancelled_) exchange->Abort();
  }
  return exchange->AwaitConnected();
}

std::shared_ptr<Exchange> RequestCore::Current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return exchange_;
}

void RequestCore::Cancel() {
  std::shared_ptr<Exchange> current;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    current = exchange_;
  }
  if (current) current->Abort();
}

}  // namespace vemtu::inet
