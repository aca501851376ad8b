#include "posting/dispatch_post.h"

#include "log/log_writer.h"
#include "transport/accepted_file.h"
#include "posting/run_record.h"

namespace vemtu {

bool DispatchPost(PostingSession& session, const SendTarget& target, const std::string& report_path,
                  bool pack_mode, platform::File* source) {
  RunContext& ctx = session.ctx;
  const std::string log = ctx.transfer_log_path.str();
  for (const SendMethod& method : session.methods) {
    if (method.needs_winhttp && !ctx.winhttp_available) continue;
    if (session.last_post_method != 0 && session.last_post_method != method.number) continue;
    int result = 0;
    try {
      result = method.function ? method.function(session, target) : 0;
    } catch (...) {
      result = 0;  // a method that throws has failed; the cascade goes on
    }
    if (result == 1) {
      // The watchdog counter: this run is making progress.
      WriteRunRecordKey(ctx, kCycleSuffix, "0");
      session.last_post_method = method.number;
      // A source a writer waits to change stays, to be posted whole by the next run.
      if (pack_mode) {
        DeleteAccepted(ctx, report_path, source ? &source->IdentityAtOpen() : nullptr, source);
      }
      WriteLogEntry(log, kEventProgress, 0, "MSG: Successfully WebPosted File",
                    LoggablePath(report_path).c_str());
    } else {
      session.last_post_method = 0;
      WriteLogEntry(log, kEventProgress, 0, "ERR: Unable to WebPost File",
                    LoggablePath(report_path).c_str());
    }
  }
  return session.last_post_method != 0;
}

}  // namespace vemtu
