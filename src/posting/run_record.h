// The run's record in the category INI (section "WebPostCycles", keys category + "PID"
// and category + "Cycle"). Every single read or write happens under the instance lock:
// a wait of at most 30000 ms whose outcome is not examined, the access, the release.
#pragma once

#include <string>

#include "common/run_context.h"
#include "platform/profile.h"

namespace vemtu {

constexpr const char* kRunRecordSection = "WebPostCycles";
constexpr const char* kPidSuffix = "PID";
constexpr const char* kCycleSuffix = "Cycle";
constexpr unsigned long kInstanceLockWaitMs = 30000;
constexpr std::size_t kRunRecordMaxChars = 99;

// Holds the instance lock for a scope: one access, or a group of accesses that must
// not interleave with another run's. The wait's outcome is ignored on purpose: after a
// time-out the access happens all the same and the release fails. The lock is
// recursive, so the single accesses inside a group take it once more.
class InstanceLockHold {
 public:
  explicit InstanceLockHold(RunContext& ctx) : lock_(ctx.instance_lock.get()) {
    if (lock_) lock_->Wait(kInstanceLockWaitMs);
  }
  ~InstanceLockHold() {
    if (lock_) lock_->Release();
  }
  InstanceLockHold(const InstanceLockHold&) = delete;
  InstanceLockHold& operator=(const InstanceLockHold&) = delete;

 private:
  InterProcessLock* lock_;
};

// The run's INI files: those start-up set up, else (a unit run alone) made now through
// the run's folder.
platform::ProfileFiles& RunProfiles(RunContext& ctx);

// The value of key category + `suffix`; empty when missing; at most 99 characters.
std::string ReadRunRecordKey(RunContext& ctx, const char* suffix);

// Writes key category + `suffix`; false when the INI could not be written.
bool WriteRunRecordKey(RunContext& ctx, const char* suffix, const std::string& value);

// The record of a run that ends: under one hold of the lock, PID = "" and Cycle = "0";
// then the instance lock is closed and forgotten.
void EndRunRecord(RunContext& ctx);

}  // namespace vemtu
