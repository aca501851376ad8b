// A lock shared between processes, seen from the layers above the platform.
// The platform's named mutex implements it; RunContext holds the run's instance lock.
#pragma once

namespace vemtu {

enum class WaitResult {
  kAcquired,   // the lock is now held by the caller
  kAbandoned,  // held by the caller, but its previous holder died while holding it
  kTimedOut,   // not obtained within the time-out
  kFailed,     // the wait itself failed (invalid handle, system error)
};

inline const char* Describe(WaitResult result) {
  switch (result) {
    case WaitResult::kAcquired: return "acquired";
    case WaitResult::kAbandoned: return "abandoned";
    case WaitResult::kTimedOut: return "timed out";
    case WaitResult::kFailed: return "failed";
  }
  return "?";
}

class InterProcessLock {
 public:
  virtual ~InterProcessLock() = default;
  // Waits at most `timeout_ms` milliseconds for the lock.
  virtual WaitResult Wait(unsigned long timeout_ms) = 0;
  // Releases a lock held by the caller; false when the caller does not hold it.
  virtual bool Release() = 0;
};

}  // namespace vemtu
