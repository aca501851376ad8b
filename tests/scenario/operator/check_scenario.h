// An agent folder with vemtu-check copied beside the agent (the build under test: native,
// or the Windows build under wine), and the check's output.
#pragma once

#include <string>
#include <vector>

#include "agent_scenario.h"

namespace vemtu::test {

struct CheckRun {
  std::string out;  // standard output
  int exit_code = -1;
};

// Runs `exe` (under wine when the Windows build is tested) with `args` in `folder`;
// standard output and error together, without CR.
CheckRun RunTool(const std::string& exe, const std::vector<std::string>& args,
                 const std::string& folder);

// A tool of the build under test: "vemtu-post" is VEMTU_BIN/vemtu-post natively and
// VEMTU_WINDOWS_BIN/vemtu-post.exe under wine.
std::string BuiltTool(const std::string& name);

class CheckScenario : public AgentScenario {
 protected:
  void SetUp() override;
  // Runs the copied vemtu-check with `args` in the agent folder.
  CheckRun RunCheck(const std::vector<std::string>& args);
  // The output line holding `text`, or empty.
  static std::string LineWith(const std::string& out, const std::string& text);

  std::string check_exe_;
};

}  // namespace vemtu::test
