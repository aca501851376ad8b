#include "posting/run_record.h"

#include <memory>

#include "platform/errors.h"

namespace vemtu {

namespace {

std::string KeyName(const RunContext& ctx, const char* suffix) {
  return ctx.category.str() + (suffix ? suffix : "");
}

}  // namespace

platform::ProfileFiles& RunProfiles(RunContext& ctx) {
  if (!ctx.profiles) ctx.profiles = std::make_shared<platform::ProfileFiles>(ctx.folder);
  return *ctx.profiles;
}

std::string ReadRunRecordKey(RunContext& ctx, const char* suffix) {
  InstanceLockHold hold(ctx);
  return RunProfiles(ctx).GetText(ctx.category_ini_path.str(), kRunRecordSection,
                                  KeyName(ctx, suffix), "", kRunRecordMaxChars);
}

bool WriteRunRecordKey(RunContext& ctx, const char* suffix, const std::string& value) {
  bool written;
  int error;
  {
    InstanceLockHold hold(ctx);
    written = RunProfiles(ctx).WriteText(ctx.category_ini_path.str(), kRunRecordSection,
                                         KeyName(ctx, suffix), value);
    error = platform::LastError();
  }
  platform::SetLastError(error);  // the write's reason, not the release's
  return written;
}

void EndRunRecord(RunContext& ctx) {
  {
    InstanceLockHold hold(ctx);
    const std::string ini = ctx.category_ini_path.str();
    RunProfiles(ctx).WriteText(ini, kRunRecordSection, KeyName(ctx, kPidSuffix), "");
    RunProfiles(ctx).WriteText(ini, kRunRecordSection, KeyName(ctx, kCycleSuffix), "0");
  }
  ctx.instance_lock.reset();
}

}  // namespace vemtu
