// Earlier runs seen as processes: recognised by the fixed image name "Vemtu.EXE", so a
// copy of the program under another name, or a recycled process id now used by another
// program, is never taken for a run.
#pragma once

#include <string>

#include "common/run_context.h"
#include "platform/process.h"

namespace vemtu {

constexpr const char* kAgentImageName = "Vemtu.EXE";
constexpr std::size_t kImagePathMaxChars = 299;

// True when `image_path` has a separator and the part after the last one equals
// "Vemtu.EXE" without regard to case.
bool IsAgentImagePath(const std::string& image_path);

// True when process `pid` can be opened and runs an image named "Vemtu.EXE".
bool IsAgentProcessRunning(platform::ProcessId pid);

// Ends process `pid` (exit code 0) when it runs "Vemtu.EXE". True when there is nothing
// to end (gone, or another program) or the termination succeeded.
bool TerminateAgentProcess(platform::ProcessId pid);

// Starts `"exe" word` on the interactive desktop and never waits for it; a failure to
// start is not reported.
void SpawnCategoryRun(const RunContext& ctx, const char* word);

// What the previous-run check needs to know about, and do to, an earlier run.
class AgentProcesses {
 public:
  virtual ~AgentProcesses() = default;
  virtual bool IsRunning(platform::ProcessId pid) = 0;
  virtual bool Terminate(platform::ProcessId pid) = 0;
};

// The real processes of this machine.
class SystemAgentProcesses final : public AgentProcesses {
 public:
  bool IsRunning(platform::ProcessId pid) override { return IsAgentProcessRunning(pid); }
  bool Terminate(platform::ProcessId pid) override { return TerminateAgentProcess(pid); }
};

}  // namespace vemtu
