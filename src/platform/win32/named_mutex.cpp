// Named mutexes through CreateMutexA. The system ends a dead owner's hold and tells the
// next waiter (WAIT_ABANDONED), so nothing else is needed for crash safety.
//
// Locks only the agent's own runs take (the instance locks, the log locks) live in a
// private namespace whose boundary is the Administrators group: a process without that
// group (any user who could otherwise squat the name, from any session) can neither
// create nor open anything in it. The post database locks keep their plain, machine-wide
// names: the monitoring agent that writes the post database takes them too. Where the
// namespace cannot be had (the system lacks it, or the run is not an administrator's),
// the plain name is used as well.
//
// A mutex we make gets a DACL of SYSTEM, Administrators and our own user; one that
// already exists is used only when its owner is one of those three.
#include "platform/named_mutex.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/win32/trusted_owner.h"

namespace vemtu::platform {

struct NamedMutex::State {
  HANDLE handle = nullptr;
  HANDLE lock_namespace = nullptr;  // the private namespace the name lies in, if any
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

// `name` cut to fit after a prefix of `reserved` characters.
std::string FittedMutexName(const std::string& name, std::size_t reserved = 0) {
  const std::size_t room = kMaxObjectName - reserved;
  if (name.size() <= room) return name;
  char tail[20];
  std::snprintf(tail, sizeof tail, "#%016llx",
                static_cast<unsigned long long>(Fnv1a64(name)));
  std::string fitted = name.substr(0, room - 17);
  fitted += tail;
  return fitted;
}

// Names shared with the monitoring agent, which must therefore stay plain.
constexpr const char* kSharedNamePrefixes[] = {"WebPostDB_BIN_"};

bool IsSharedName(const std::string& name) {
  for (const char* prefix : kSharedNamePrefixes) {
    const std::size_t n = std::strlen(prefix);
    if (name.size() >= n && _strnicmp(name.c_str(), prefix, n) == 0) {
      return true;
    }
  }
  return false;
}

constexpr char kNamespaceAlias[] = "VemtuAgentLocks";
constexpr wchar_t kNamespaceAliasWide[] = L"VemtuAgentLocks";

// The agent's private lock namespace, created by the first run that needs it and opened
// by the later ones; null when the system or the caller's token cannot have it.
HANDLE OpenLockNamespace() {
  // Wine has none of this: there the descriptor is not made and the plain name serves.
  HANDLE boundary = CreateBoundaryDescriptorW(kNamespaceAliasWide, 0);
  if (boundary == nullptr) return nullptr;
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  HANDLE opened = nullptr;
  if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
      AddSIDToBoundaryDescriptor(&boundary, administrators)) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
            L"D:P(A;;GA;;;SY)(A;;GA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr)) {
      SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
      opened = CreatePrivateNamespaceW(&attributes, boundary, kNamespaceAliasWide);
      if (opened == nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        opened = OpenPrivateNamespaceW(boundary, kNamespaceAliasWide);
      }
      LocalFree(descriptor);
    }
  }
  DeleteBoundaryDescriptor(boundary);
  return opened;
}

// Where the lock `name` lies: the object name to use, and the namespace it needs held
// (null for a plain name).
struct LockPlace {
  std::string object_name;
  HANDLE lock_namespace = nullptr;
};

LockPlace PlaceOfLock(const std::string& name) {
  LockPlace place;
  if (!IsSharedName(name)) place.lock_namespace = OpenLockNamespace();
  if (!place.lock_namespace) {
    place.object_name = FittedMutexName(name);
    return place;
  }
  const std::string prefix = std::string(kNamespaceAlias) + "\\";
  place.object_name = prefix + FittedMutexName(name, prefix.size());
  return place;
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
  const LockPlace place = PlaceOfLock(name);
  HANDLE handle = CreateMutexA(&attributes, FALSE, place.object_name.c_str());
  DWORD error = GetLastError();  // ERROR_ALREADY_EXISTS tells the caller it was opened
  if (handle != nullptr && error == ERROR_ALREADY_EXISTS && !HasTrustedOwner(handle, own_sid)) {
    CloseHandle(handle);
    handle = nullptr;
    error = ERROR_ACCESS_DENIED;
  }
  if (handle != nullptr) mutex.state_ = new (std::nothrow) State{handle, place.lock_namespace};
  if (mutex.state_ == nullptr) {
    if (handle != nullptr) CloseHandle(handle);
    if (place.lock_namespace) ClosePrivateNamespace(place.lock_namespace, 0);
    ::SetLastError(handle != nullptr ? ERROR_NOT_ENOUGH_MEMORY : error);
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
  if (state_->lock_namespace) ClosePrivateNamespace(state_->lock_namespace, 0);
  delete state_;
  state_ = nullptr;
}

bool NamedMutexIsOpen(const std::string& name) {
  // Opening needs a handle somewhere else to exist; SYNCHRONIZE alone takes nothing.
  const LockPlace place = PlaceOfLock(name);
  HANDLE handle = OpenMutexA(SYNCHRONIZE, FALSE, place.object_name.c_str());
  if (handle != nullptr) CloseHandle(handle);
  if (place.lock_namespace) ClosePrivateNamespace(place.lock_namespace, 0);
  return handle != nullptr;
}

// Each Windows mutex is refused on its own; there is no store to refuse.
bool NamedMutexStoreRefused() { return false; }

}  // namespace vemtu::platform
