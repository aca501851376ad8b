#include "posting/run_record.h"

#include "platform/profile.h"

namespace vemtu {

namespace {

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
