#include "posting/run_record.h"

#include "platform/profile.h"

namespace vemtu {

namespace {

// Holds the instance lock for the scope of one access. The wait's outcome is ignored on
// purpose: after a time-out the access happens all the same and the release fails.
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

std::string KeyName(const RunContext& ctx, const char* suffix) {
  return ctx.category.str() + (suffix ? suffix : "");
}

}  // namespace

std::string ReadRunRecordKey(RunContext& ctx, const char* suffix) {
  InstanceLockHold hold(ctx);
  return platform::GetProfileText(ctx.category_ini_path.str(), kRunRecordSection,
                                  KeyName(ctx, suffix), "", kRunRecordMaxChars);
}

void WriteRunRecordKey(RunContext& ctx, const char* suffix, const std::string& value) {
  InstanceLockHold hold(ctx);
  platform::WriteProfileText(ctx.category_ini_path.str(), kRunRecordSection,
                             KeyName(ctx, suffix), value);
}

void EndRunRecord(RunContext& ctx) {
  {
    InstanceLockHold hold(ctx);
    const std::string ini = ctx.category_ini_path.str();
    platform::WriteProfileText(ini, kRunRecordSection, KeyName(ctx, kPidSuffix), "");
    platform::WriteProfileText(ini, kRunRecordSection, KeyName(ctx, kCycleSuffix), "0");
  }
  ctx.instance_lock.reset();
}

}  // namespace vemtu
