// Named mutexes through CreateMutexA. The system ends a dead owner's hold and tells the
// next waiter (WAIT_ABANDONED), so nothing else is needed for crash safety.
#include "platform/named_mutex.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <new>

namespace vemtu::platform {

struct NamedMutex::State {
  HANDLE handle = nullptr;
};

namespace {

// Kernel object names are limited to MAX_PATH characters; log locks are named after
// full log paths and may be longer. Such a name keeps its head and gets a hash of the
// whole name as its tail, so it fits and two long names stay two locks.
constexpr std::size_t kMaxObjectName = MAX_PATH - 1;

std::uint64_t Fnv1a64(const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string FittedMutexName(const std::string& name) {
  if (name.size() <= kMaxObjectName) return name;
  char tail[20];
  std::snprintf(tail, sizeof tail, "#%016llx",
                static_cast<unsigned long long>(Fnv1a64(name)));
  std::string fitted = name.substr(0, kMaxObjectName - 17);
  fitted += tail;
  return fitted;
}

}  // namespace

NamedMutex::~NamedMutex() { Close(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept : state_(other.state_) {
  other.state_ = nullptr;
}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
  if (this != &other) {
    Close();
    state_ = other.state_;
    other.state_ = nullptr;
  }
  return *this;
}

NamedMutex NamedMutex::Create(const std::string& name) {
  NamedMutex mutex;
  HANDLE handle = CreateMutexA(nullptr, FALSE, FittedMutexName(name).c_str());
  if (handle == nullptr) return mutex;
  DWORD error = GetLastError();  // ERROR_ALREADY_EXISTS tells the caller it was opened
  mutex.state_ = new (std::nothrow) State{handle};
  if (mutex.state_ == nullptr) {
    CloseHandle(handle);
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return mutex;
  }
  ::SetLastError(error);
  return mutex;
}

bool NamedMutex::IsValid() const { return state_ != nullptr; }

WaitResult NamedMutex::Wait(unsigned long timeout_ms) {
  if (!IsValid()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return WaitResult::kFailed;
  }
  switch (WaitForSingleObject(state_->handle, timeout_ms)) {
    case WAIT_OBJECT_0: return WaitResult::kAcquired;
    case WAIT_ABANDONED: return WaitResult::kAbandoned;
    case WAIT_TIMEOUT: return WaitResult::kTimedOut;
    default: return WaitResult::kFailed;
  }
}

bool NamedMutex::Release() {
  if (!IsValid()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return ReleaseMutex(state_->handle) != 0;
}

void NamedMutex::Close() {
  if (state_ == nullptr) return;
  CloseHandle(state_->handle);
  delete state_;
  state_ = nullptr;
}

bool NamedMutexIsOpen(const std::string& name) {
  // Opening needs a handle somewhere else to exist; SYNCHRONIZE alone takes nothing.
  HANDLE handle = OpenMutexA(SYNCHRONIZE, FALSE, FittedMutexName(name).c_str());
  if (handle == nullptr) return false;
  CloseHandle(handle);
  return true;
}

}  // namespace vemtu::platform
