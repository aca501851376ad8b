#include "transport/accepted_file.h"

#include "log/log_writer.h"
#include "platform/agent_folder.h"
#include "platform/errors.h"

namespace vemtu {

bool DeleteAccepted(const RunContext& ctx, const std::string& path,
                    const platform::FileIdentity* identity) {
  const platform::AgentFolder& agent = platform::FolderOrUnrooted(ctx.folder);
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
    WriteLogEntry(ctx.transfer_log_path.str(), kEventProgress, error, "ERR: Unable to delete file",
                  path.c_str());
  }
  return false;
}

}  // namespace vemtu
