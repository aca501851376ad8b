#include "driver/agent_process.h"

#include "common/fixed_text.h"
#include "platform/paths.h"

namespace vemtu {

bool IsAgentImagePath(const std::string& image_path) {
  std::size_t cut = platform::LastSeparator(image_path);
  if (cut == std::string::npos) return false;
  return EqualsIgnoreCase(std::string_view(image_path).substr(cut + 1), kAgentImageName);
}

bool IsAgentProcessRunning(platform::ProcessId pid) {
  platform::ProcessHandle process = platform::ProcessHandle::Open(pid);
  if (!process.IsOpen()) return false;
  std::string path;
  bool read = process.ImagePath(path, kImagePathMaxChars);
  process.Close();
  return read && IsAgentImagePath(path);
}

bool TerminateAgentProcess(platform::ProcessId pid) {
  platform::ProcessHandle process = platform::ProcessHandle::Open(pid);
  if (!process.IsOpen()) return true;  // nothing to end
  std::string path;
  if (!process.ImagePath(path, kImagePathMaxChars) || !IsAgentImagePath(path)) {
    return true;  // another program now has this id: left alone
  }
  return process.Terminate(0);
}

void SpawnCategoryRun(const RunContext& ctx, const char* word) {
  platform::SpawnDetached(ctx.quoted_exe_path.str(), word ? word : "");
}

}  // namespace vemtu
