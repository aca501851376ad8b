// Named mutexes across processes: a robust, process-shared, recursive pthread mutex in a
// slot of the lock table (see named_mutex_table.h and named_mutex_store.h).
//
// The lock behaves like the Windows object it stands for:
// - a holder that dies, even by SIGKILL, releases it, and the next waiter is told the
//   lock was abandoned (EOWNERDEAD), as long as some live process still has a handle
//   open; a lock whose last handles went with its dead holder starts afresh;
// - the owning thread may take it again and must release it as often; a thread that does
//   not own it cannot release it (EPERM).
//
// The log appender creates, waits for, releases and closes a mutex for every line, so a
// handle must be cheap: the table is mapped once per process, and a name costs a look-up
// in it (and a free slot the first time) under the table's own lock. This process's
// handles are counted per name in one map, which plays the part of the kernel's object
// table, process-wide by nature; it is guarded by its own mutex, as handles are opened
// and closed on any thread.
#include "platform/named_mutex.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/paths.h"
#include "platform/posix/named_mutex_store.h"

namespace vemtu::platform {
namespace {

using named_mutex_detail::LockSlot;
using named_mutex_detail::LockTable;
using named_mutex_detail::TableLock;

constexpr unsigned long kInfinite = 0xFFFFFFFFUL;

// A name this process has handles open to.
struct OpenName {
  std::string key;
  LockSlot* slot = nullptr;
  unsigned handles = 0;
  int presence = -1;  // presence slot (-1: counted as unlisted)
};

std::string ExecutableFolder() {
  std::string exe = ExecutablePath();
  std::size_t cut = exe.rfind('/');
  return cut == std::string::npos ? std::string() : exe.substr(0, cut == 0 ? 1 : cut);
}

class ProcessLocks {
 public:
  static ProcessLocks& Instance() {
    // Never destroyed: handles may still be closed while static objects are torn down.
    static ProcessLocks* locks = Create();
    return *locks;
  }

  // The name `name` with one more handle; nullptr (errno set) when it cannot be opened.
  // `existed` tells whether another handle to it is open anywhere.
  OpenName* Open(const std::string& name, bool& existed) {
    named_mutex_detail::LockKey key = named_mutex_detail::KeyOf(name);
    std::lock_guard<std::mutex> hold(mutex_);
    auto found = names_.find(key.text);
    if (found != names_.end()) {
      ++found->second->handles;
      existed = true;
      return found->second.get();
    }
    LockTable* table = Table();
    if (!table) return nullptr;
    TableLock table_lock(*table);
    if (!table_lock.held()) return nullptr;
    bool claimed = false;
    LockSlot* slot = named_mutex_detail::FindOrClaim(*table, key, claimed);
    if (!slot) return nullptr;
    auto open = std::make_unique<OpenName>();
    open->key = key.text;
    open->slot = slot;
    open->handles = 1;
    const std::uint64_t self = Identity();
    open->presence = named_mutex_detail::RegisterPresence(*slot, self, 0);
    // A holder that died, with nobody left who had it open, leaves no abandoned lock
    // behind: the lock starts afresh, as a newly created one would. Looking costs one
    // load; only a dead holder's lock costs more.
    if (named_mutex_detail::HolderDied(slot->mutex) &&
        !named_mutex_detail::OtherProcessPresent(*slot, self)) {
      named_mutex_detail::StartAfresh(slot->mutex);
    }
    existed = !claimed && named_mutex_detail::OtherSlotTaken(*slot, self);
    OpenName* result = open.get();
    names_.emplace(key.text, std::move(open));
    return result;
  }

  // Drops one handle of `open`; the last one of this process gives up its presence, and
  // the slot when no other process has the name open.
  void Close(OpenName* open) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (--open->handles > 0) return;
    TableLock table_lock(*table_);
    // Without the table lock (a holder stopped for seconds) the presence stays: the slot
    // then stays taken until this process has ended and a sweep finds it dead.
    if (table_lock.held()) {
      named_mutex_detail::ClearPresence(*open->slot, Identity(), open->presence);
      named_mutex_detail::FreeIfUnused(*table_, *open->slot);
    }
    names_.erase(open->key);
  }

  bool StoreRefused() {
    std::lock_guard<std::mutex> hold(mutex_);
    return store_error_ != 0;
  }

  // A look at whether a live process has `name` open, through this process's table when
  // it has one, else through a read-only mapping made for the look.
  bool LiveProcessPresent(const std::string& name) {
    const named_mutex_detail::LockKey key = named_mutex_detail::KeyOf(name);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (table_) return named_mutex_detail::LiveProcessPresent(*table_, key);
    }
    const LockTable* look = named_mutex_detail::MapTableToLook(ExecutableFolder(), rights_);
    if (!look) return false;
    const bool present = named_mutex_detail::LiveProcessPresent(*look, key);
    named_mutex_detail::UnmapTable(look);
    return present;
  }

 private:
  ProcessLocks() : rights_(named_mutex_detail::RightsForFolder(ExecutableFolder())) {}

  static ProcessLocks* Create() {
    auto* locks = new ProcessLocks();
    // A child made by fork has another identity, and must not find the map locked by
    // a thread that does not exist in it.
    pthread_atfork([] { Instance().mutex_.lock(); }, [] { Instance().mutex_.unlock(); },
                   [] {
                     ProcessLocks& self = Instance();
                     self.identity_ = 0;
                     self.mutex_.unlock();
                   });
    return locks;
  }

  // The table, mapped on first use and kept for the life of the process. A store that
  // was refused stays refused for the process, each lock failing with the same error.
  LockTable* Table() {
    if (!table_ && store_error_ == 0) {
      table_ = named_mutex_detail::MapTable(ExecutableFolder(), rights_);
      if (!table_) store_error_ = errno != 0 ? errno : EACCES;
    }
    if (!table_) errno = store_error_;
    return table_;
  }

  std::uint64_t Identity() {
    if (identity_ == 0) identity_ = named_mutex_detail::CurrentProcessIdentity();
    return identity_;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<OpenName>> names_;  // by key
  LockTable* table_ = nullptr;
  int store_error_ = 0;  // why the table could not be mapped
  std::uint64_t identity_ = 0;
  // Who may use this process's table: fixed by the executable's folder.
  const named_mutex_detail::LockRights rights_;
};

}  // namespace

struct NamedMutex::State {
  OpenName* name = nullptr;
  std::atomic<unsigned long> held{0};  // successful waits through this handle not yet released

  pthread_mutex_t* mutex() const { return &name->slot->mutex; }
};

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
  NamedMutex result;
  auto state = std::make_unique<State>();
  bool existed = false;
  state->name = ProcessLocks::Instance().Open(name, existed);
  if (!state->name) return result;
  result.state_ = state.release();
  errno = existed ? EEXIST : 0;  // as Windows reports an existing mutex
  return result;
}

bool NamedMutex::IsValid() const { return state_ != nullptr; }

WaitResult NamedMutex::Wait(unsigned long timeout_ms) {
  if (!state_) {
    errno = EBADF;
    return WaitResult::kFailed;
  }
  pthread_mutex_t* mutex = state_->mutex();
  int rc;
  if (timeout_ms == 0) {
    rc = pthread_mutex_trylock(mutex);
  } else if (timeout_ms >= kInfinite) {
    rc = pthread_mutex_lock(mutex);
  } else {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeout_ms / 1000);
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
    rc = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
  }
  switch (rc) {
    case 0:
      ++state_->held;
      return WaitResult::kAcquired;
    case EOWNERDEAD:
      // The previous holder died holding it: the lock is ours, and usable again.
      pthread_mutex_consistent(mutex);
      ++state_->held;
      return WaitResult::kAbandoned;
    case EBUSY:
    case ETIMEDOUT:
      errno = ETIMEDOUT;
      return WaitResult::kTimedOut;
    default:
      errno = rc;
      return WaitResult::kFailed;
  }
}

bool NamedMutex::Release() {
  if (!state_) {
    errno = EBADF;
    return false;
  }
  int rc = pthread_mutex_unlock(state_->mutex());
  if (rc != 0) {
    errno = rc;  // EPERM: the caller does not own it
    return false;
  }
  unsigned long held = state_->held.load();
  while (held > 0 && !state_->held.compare_exchange_weak(held, held - 1)) {
  }
  return true;
}

void NamedMutex::Close() {
  if (!state_) return;
  int saved = errno;
  // A handle closed while its thread still holds the lock releases it, as the handle
  // was the holder's only way to it.
  while (state_->held > 0 && pthread_mutex_unlock(state_->mutex()) == 0) {
    --state_->held;
  }
  ProcessLocks::Instance().Close(state_->name);
  delete state_;
  state_ = nullptr;
  errno = saved;
}

bool NamedMutexStoreRefused() { return ProcessLocks::Instance().StoreRefused(); }

bool NamedMutexIsOpen(const std::string& name) {
  return ProcessLocks::Instance().LiveProcessPresent(name);
}

}  // namespace vemtu::platform
