#include "request_core.h"

#include <cerrno>
#include <mutex>

#include "proxy_list.h"
#include "response_head.h"

namespace vemtu::inet {

void ChooseProxy(ExchangeSettings& settings, std::uint32_t access, const std::string& list,
                 const std::string& bypass, const std::string& host, bool secure) {
  switch (access) {
    case 1:
      settings.proxy_mode = ProxyMode::kNone;
      break;
    case 3:
      settings.proxy_url = ProxyFor(list, secure);
      settings.proxy_mode = settings.proxy_url.empty() || Bypassed(bypass, host)
                                ? ProxyMode::kNone
                                : ProxyMode::kNamed;
      break;
    default:
      settings.proxy_mode = ProxyMode::kEnvironment;
      break;
  }
}

std::string HostLine(const std::string& host, unsigned port, bool secure) {
  std::string line = "Host: " + UrlHost(host);
  if (port != (secure ? 443u : 80u)) line += ":" + std::to_string(port);
  return line;
}

bool BodyAnnounced(const std::string& method, std::uint64_t length) {
  return !(method == "GET" && length == 0) && method != "HEAD";
}

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

RequestCore::RequestCore(HandlePool& pool) : pool_(pool), handles_(pool.Take(0)) {}

RequestCore::~RequestCore() {
  // A call that drops the last reference reports its own error after this has run.
  int saved_errno = errno;
  std::shared_ptr<Exchange> last;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    last = std::move(exchange_);
  }
  if (last) last->Join();
  pool_.Give(std::move(handles_));
  errno = saved_errno;
}

Failure RequestCore::Send(ExchangeSettings settings, const char* initial,
                          std::size_t initial_size) {
  if (!usable()) return Failure::kOutOfMemory;
  if (initial_size > settings.body_length) return Failure::kBadArgument;
  std::shared_ptr<Exchange> previous;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) return Failure::kCancelled;
    previous = std::move(exchange_);
  }
  if (previous) previous->Join();  // the curl handle is idle again

  settings.deadline = step_deadline_;
  declared_ = settings.body_length;
  written_ = 0;
  if (initial_size > 0 && initial_size == settings.body_length) {
    settings.body.assign(initial, initial_size);  // the whole body: sent with the head
    written_ = initial_size;
    initial_size = 0;
  }
  // Connections made with other certificate checks are never reused.
  if (settings.security_ignore != handles_->security_ignore) {
    pool_.Give(std::move(handles_));
    handles_ = pool_.Take(settings.security_ignore);
    if (!usable()) return Failure::kOutOfMemory;
  }
  auto exchange = std::make_shared<Exchange>(handles_->easy, handles_->multi, &handles_->sockets,
                                             std::move(settings));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    exchange_ = exchange;
    if (cancelled_) exchange->Abort();
  }
  Failure failure = exchange->AwaitConnected();
  if (failure == Failure::kNone && initial_size > 0) failure = Write(initial, initial_size, 0);
  return failure;
}

void RequestCore::SetStepTimeout(std::uint32_t timeout_ms) {
  step_deadline_ = timeout_ms == 0 ? kNoDeadline
                                   : std::chrono::steady_clock::now() +
                                         std::chrono::milliseconds(timeout_ms);
}

Failure RequestCore::Write(const char* data, std::size_t size, std::uint32_t timeout_ms) {
  std::shared_ptr<Exchange> exchange = Current();
  if (!exchange) return Failure::kNotSent;
  if (written_ + size > declared_) return Failure::kBadArgument;
  Failure failure = exchange->Write(data, size, timeout_ms);
  if (failure == Failure::kNone) written_ += size;
  return failure;
}

Failure RequestCore::Receive(std::uint32_t timeout_ms) {
  std::shared_ptr<Exchange> exchange = Current();
  return exchange ? exchange->AwaitResponse(timeout_ms) : Failure::kNotSent;
}

Failure RequestCore::Available(std::size_t* count, std::uint32_t timeout_ms) {
  *count = 0;
  std::shared_ptr<Exchange> exchange = Current();
  return exchange ? exchange->Available(count, timeout_ms) : Failure::kNotSent;
}

Failure RequestCore::Read(char* out, std::size_t size, std::size_t* got,
                          std::uint32_t timeout_ms) {
  *got = 0;
  std::shared_ptr<Exchange> exchange = Current();
  return exchange ? exchange->Read(out, size, got, timeout_ms) : Failure::kNotSent;
}

long RequestCore::Status() const {
  std::shared_ptr<Exchange> exchange = Current();
  return exchange ? exchange->Status() : 0;
}

std::string RequestCore::Head() const {
  std::shared_ptr<Exchange> exchange = Current();
  return exchange ? exchange->Head() : std::string();
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
