#include "curl_handles.h"

#include <iterator>
#include <mutex>

namespace vemtu::inet {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlHandles::CurlHandles() {
  InitCurlOnce();
  easy = curl_easy_init();
  multi = curl_multi_init();
}

CurlHandles::~CurlHandles() {
  if (easy) curl_easy_cleanup(easy);
  if (multi) curl_multi_cleanup(multi);  // closes the connections it kept
}

std::unique_ptr<CurlHandles> HandlePool::Take(std::uint32_t security_ignore) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto handles = idle_.rbegin(); handles != idle_.rend(); ++handles) {
      if ((*handles)->security_ignore != security_ignore) continue;
      std::unique_ptr<CurlHandles> taken = std::move(*handles);
      idle_.erase(std::next(handles).base());
      taken->sockets.Reset();
      return taken;
    }
  }
  auto fresh = std::make_unique<CurlHandles>();
  fresh->security_ignore = security_ignore;
  return fresh;
}

void HandlePool::Give(std::unique_ptr<CurlHandles> handles) {
  if (!handles || !handles->usable()) return;
  std::unique_ptr<CurlHandles> surplus;
  std::lock_guard<std::mutex> lock(mutex_);
  if (idle_.size() >= kIdleLimit) {
    surplus = std::move(idle_.front());
    idle_.erase(idle_.begin());
  }
  idle_.push_back(std::move(handles));
}

}  // namespace vemtu::inet
