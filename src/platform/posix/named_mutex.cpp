// Named mutexes across processes: a robust, process-shared, recursive pthread mutex in a
// shared-memory segment named after the mutex (see named_mutex_segment.h).
//
// The lock behaves like the Windows object it stands for:
// - a holder that dies, even by SIGKILL, releases it, and the next waiter is told the
//   lock was abandoned (EOWNERDEAD), as long as some live process still has a handle
//   open; a lock whose last handles went with its dead holder starts afresh;
// - the owning thread may take it again and must release it as often; a thread that does
//   not own it cannot release it (EPERM).
//
// The log appender creates, waits for, releases and closes a mutex for every line, so a
// handle must be cheap. Each process therefore keeps the segments it has mapped in one
// table: opening a name already in it is a look-up, and closing the last handle leaves
// the mapping in place (the segment stays while any process maps it). That table plays
// the part of the kernel's object table, which is process-wide by nature; it is guarded
// by its own mutex, as handles are opened and closed on any thread. A name is mapped
// once per process: its mapping stays after its last handle closed (up to
// kKeptMappings names, the least recently used going first), so that a lock costs no
// segment set-up after the first use of its name in a run; the mappings are given back
// at exit. The first lock a process opens removes the segments that killed processes
// left behind.
#include "platform/named_mutex.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/paths.h"
#include "platform/posix/named_mutex_segment.h"

namespace vemtu::platform {
namespace {

using named_mutex_detail::SharedBlock;

constexpr unsigned long kInfinite = 0xFFFFFFFFUL;

// One mapped segment of this process.
struct Mapping {
  std::string segment;
  named_mutex_detail::Segment shared;
  unsigned handles = 0;  // open handles of this process
  int slot = -1;         // presence slot while handles > 0 (-1: counted as unlisted)
  int slot_hint = 0;     // the slot to try first next time
  bool idle = false;
  std::list<Mapping*>::iterator idle_position;
};

class MappingTable {
 public:
  static MappingTable& Instance() {
    // Never destroyed: handles may still be closed while static objects are torn down.
    static MappingTable* table = Create();
    return *table;
  }

  // The mapping of `segment` with one more handle; nullptr (errno set) when it cannot
  // be mapped. `existed` tells whether another handle to it is open anywhere.
  Mapping* Open(const std::string& segment, bool& existed) {
    std::lock_guard<std::mutex> hold(mutex_);
    Mapping* mapping;
    auto found = mappings_.find(segment);
    if (found != mappings_.end()) {
      mapping = found->second.get();
    } else {
      auto fresh = std::make_unique<Mapping>();
      fresh->segment = segment;
      if (!named_mutex_detail::AttachSegment(segment, rights_, fresh->shared)) return nullptr;
      mapping = fresh.get();
      mappings_.emplace(segment, std::move(fresh));
    }
    existed = mapping->handles > 0;
    if (mapping->handles++ == 0) {
      if (mapping->idle) {
        idle_.erase(mapping->idle_position);
        mapping->idle = false;
      }
      SharedBlock& block = *mapping->shared.block;
      const std::uint64_t self = Identity();
      mapping->slot = named_mutex_detail::RegisterPresence(block, self, mapping->slot_hint);
      if (mapping->slot >= 0) mapping->slot_hint = mapping->slot;
      // A holder that died, with nobody left who had it open, leaves no abandoned lock
      // behind: the lock starts afresh, as a newly created one would. Looking costs one
      // load; only a dead holder's lock costs more.
      if (named_mutex_detail::HolderDied(block) &&
          !named_mutex_detail::OtherProcessPresent(block, self)) {
        named_mutex_detail::StartAfresh(block);
      }
      existed = !mapping->shared.created && named_mutex_detail::OtherSlotTaken(block, self);
      mapping->shared.created = false;
    }
    return mapping;
  }

  // Drops one handle of `mapping`; the mapping itself stays for a later Open.
  void Close(Mapping* mapping) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (--mapping->handles > 0) return;
    named_mutex_detail::ClearPresence(*mapping->shared.block, Identity(), mapping->slot);
    mapping->slot = -1;
    idle_.push_front(mapping);
    mapping->idle_position = idle_.begin();
    mapping->idle = true;
    while (idle_.size() > named_mutex_detail::kKeptMappings) DetachLocked(idle_.back());
  }

 private:
  MappingTable()
      : owner_(getpid()), rights_(named_mutex_detail::RightsForFolder(ExecutableFolder())) {}

  static std::string ExecutableFolder() {
    std::string exe = ExecutablePath();
    std::size_t cut = exe.rfind('/');
    return cut == std::string::npos ? std::string() : exe.substr(0, cut == 0 ? 1 : cut);
  }

  static MappingTable* Create() {
    auto* table = new MappingTable();
    // A child made by fork has another identity, and must not find the table locked by
    // a thread that does not exist in it.
    pthread_atfork([] { Instance().mutex_.lock(); }, [] { Instance().mutex_.unlock(); },
                   [] {
                     MappingTable& self = Instance();
                     self.identity_ = 0;
                     self.mutex_.unlock();
                   });
    std::atexit([] { Instance().DetachIdle(); });
    // Processes killed with locks kept (a stuck run ended by its successor) never
    // removed their segments: this process's first lock sweeps them.
    named_mutex_detail::RemoveUnusedSegments();
    return table;
  }

  std::uint64_t Identity() {
    if (identity_ == 0) identity_ = named_mutex_detail::CurrentProcessIdentity();
    return identity_;
  }

  // At exit: the mappings without handles are given back, and segments that no other
  // process maps are removed. Only the process that made the table does this; a forked
  // child shares its parent's open segments.
  void DetachIdle() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (getpid() != owner_) return;
    while (!idle_.empty()) DetachLocked(idle_.back());
  }

  void DetachLocked(Mapping* mapping) {
    idle_.erase(mapping->idle_position);
    named_mutex_detail::DetachSegment(mapping->segment, mapping->shared);
    mappings_.erase(mapping->segment);
  }

  std::mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<Mapping>> mappings_;
  std::list<Mapping*> idle_;  // mappings without handles, most recently used first
  std::uint64_t identity_ = 0;
  const pid_t owner_;
  // Who may use this process's segments: fixed by the executable's folder.
  const named_mutex_detail::SegmentRights rights_;
};

}  // namespace

struct NamedMutex::State {
  Mapping* mapping = nullptr;
  std::atomic<unsigned long> held{0};  // successful waits through this handle not yet released

  pthread_mutex_t* mutex() const { return &mapping->shared.block->mutex; }
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
  state->mapping =
      MappingTable::Instance().Open(named_mutex_detail::SegmentName(name), existed);
  if (!state->mapping) return result;
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
  MappingTable::Instance().Close(state_->mapping);
  delete state_;
  state_ = nullptr;
  errno = saved;
}

bool NamedMutexIsOpen(const std::string& name) {
  return named_mutex_detail::LiveProcessPresent(named_mutex_detail::SegmentName(name));
}

}  // namespace vemtu::platform
