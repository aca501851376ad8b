// Named mutexes through CreateMutexA. The system ends a dead owner's hold and tells the
// next waiter (WAIT_ABANDONED), so nothing else is needed for crash safety.
//
// The names carry no prefix, so a run as SYSTEM shares them with every session: a user
// could create one first and deny or hold it. A mutex we make gets a DACL of SYSTEM,
// Administrators and our own user; one that already exists is used only when its owner
// is one of those three.
#include "platform/named_mutex.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "platform/win32/trusted_owner.h"

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

struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};
template <class T>
using LocalMemory = std::unique_ptr<T, LocalFreeDeleter>;

// Owned by our user; full access for SYSTEM, Administrators and our user, nothing inherited.
LocalMemory<void> OwnMutexSecurity(const std::vector<BYTE>& own_sid) {
  if (own_sid.empty()) return nullptr;
  char* sid_text = nullptr;
  if (!ConvertSidToStringSidA(const_cast<BYTE*>(own_sid.data()), &sid_text)) return nullptr;
  LocalMemory<char> held_text(sid_text);
  // Owned by our user by name, not by the token's default owner (a group on some systems),
  // so that the owner check of the next opener knows it.
  std::string sddl = std::string("O:") + sid_text + "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;" +
                     sid_text + ")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  return LocalMemory<void>(descriptor);
}

// True when the mutex behind `handle` belongs to SYSTEM, Administrators or our own user.
bool HasTrustedOwner(HANDLE handle, const std::vector<BYTE>& own_sid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  LocalMemory<void> held(descriptor);
  return IsTrustedSid(owner, own_sid);
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
  const std::vector<BYTE> own_sid = OwnUserSid();
  LocalMemory<void> security = OwnMutexSecurity(own_sid);
  if (!security) return mutex;  // the reason is in the error slot
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security.get(), FALSE};
  HANDLE handle = CreateMutexA(&attributes, FALSE, FittedMutexName(name).c_str());
  if (handle == nullptr) return mutex;
  DWORD error = GetLastError();  // ERROR_ALREADY_EXISTS tells the caller it was opened
  if (error == ERROR_ALREADY_EXISTS && !HasTrustedOwner(handle, own_sid)) {
    CloseHandle(handle);
    ::SetLastError(ERROR_ACCESS_DENIED);
    return mutex;
  }
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

// Each Windows mutex is refused on its own; there is no store to refuse.
bool NamedMutexStoreRefused() { return false; }

}  // namespace vemtu::platform
