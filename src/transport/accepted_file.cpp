#include "transport/accepted_file.h"

#include "log/log_writer.h"
#include "platform/agent_folder.h"
#include "platform/errors.h"

namespace vemtu {

namespace {

constexpr char kChangedWhilePosted[] = "MSG: File changed while posted, kept for the next run";

// True when a writer has the held source open now, or waits to open it: deleted now,
// its bytes would go into a file nobody reads. Writers were held off only while the body
// was read; the hold is taken again for the delete, which any open writer refuses. Where
// no hold can be had, a file whose size or status changed since it was opened was written
// meanwhile (a writer can set its modification time back, not its status-change time).
bool WriterAtSource(platform::File& source) {
  switch (source.HoldOffWriters()) {
    case platform::File::WriterHold::kHeld:
      return source.WriterWaiting();
    case platform::File::WriterHold::kHeldByWriter:
      return true;
    case platform::File::WriterHold::kUnavailable: {
      const platform::FileIdentity now = source.Identity();
      const platform::FileIdentity& read = source.IdentityAtOpen();
      return !now.valid || now.size != read.size || now.changed != read.changed;
    }
  }
  return true;
}

}  // namespace

bool DeleteAccepted(const RunContext& ctx, const std::string& path,
                    const platform::FileIdentity* identity, platform::File* held) {
  const platform::AgentFolder& agent = platform::FolderOrUnrooted(ctx.folder);
  const std::string& log = ctx.transfer_log_path.str();
  const bool is_source = identity && held && held->IdentityAtOpen() == *identity;
  if (is_source && WriterAtSource(*held)) {
    WriteLogEntry(log, kEventProgress, 0, kChangedWhilePosted, LoggablePath(path).c_str());
    return false;
  }
  auto delete_file = [&] {
    return identity ? agent.DeleteIfUnchanged(path, *identity) : agent.DeleteFileAt(path);
  };
  // Most files go at the first try; one that refuses (a read-only file on Windows) has
  // its attributes reset and is tried once more.
  if (delete_file()) return true;
  int error = platform::LastError();
  if (agent.SetAttributesNormal(path)) {
    if (delete_file()) return true;
    error = platform::LastError();
  }
  const platform::FileIdentity now = agent.IdentityAt(path);
  if (identity ? now == *identity : now.valid) {
    WriteLogEntry(log, kEventProgress, error, "ERR: Unable to delete file",
                  LoggablePath(path).c_str());
  } else if (now.valid) {
    // Another version has the name now (changed in place, or renamed over it): kept.
    WriteLogEntry(log, kEventProgress, 0, kChangedWhilePosted, LoggablePath(path).c_str());
  }
  return false;
}

}  // namespace vemtu
