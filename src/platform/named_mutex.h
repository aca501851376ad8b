// Named mutexes shared between processes: created unowned (or opened when another
// process created it first), waited for with a time-out. On Linux the lock is released
// when its holding process dies, and the next waiter is told it was abandoned.
#pragma once

#include <cstdint>
#include <string>

#include "common/lock.h"

namespace vemtu::platform {

class NamedMutex final : public InterProcessLock {
 public:
  NamedMutex() = default;
  ~NamedMutex() override;
  NamedMutex(NamedMutex&& other) noexcept;
  NamedMutex& operator=(NamedMutex&& other) noexcept;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Creates or opens the mutex `name`. Check IsValid(); LastError() tells why not.
  // Long names (log paths) still map to distinct locks. A lock that another user made
  // (one who is neither the system's administration nor this process's user) is refused
  // with the access-denied error: its maker could deny or hold it at will.
  static NamedMutex Create(const std::string& name);

  bool IsValid() const;
  WaitResult Wait(unsigned long timeout_ms) override;
  bool Release() override;
  void Close();

 private:
  struct State;
  State* state_ = nullptr;
};

// True when some process has the mutex `name` open (a run keeps its instance lock open
// from start to finish). Neither creates the mutex nor waits for it: a look that changes
// nothing, for tools that watch the agent.
bool NamedMutexIsOpen(const std::string& name);

// True when no lock at all can be had in this process: the store that holds every lock
// was refused (on Linux, a lock folder or table that a user outside the agent's could
// change). A run then ends at once, and may still write the one line that says why.
bool NamedMutexStoreRefused();

}  // namespace vemtu::platform
