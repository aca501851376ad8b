#include "check_scenario.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

namespace vemtu::test {

std::string BuiltTool(const std::string& name) {
  return UnderWine() ? EnvOr("VEMTU_WINDOWS_BIN", "") + "/" + name + ".exe"
                     : EnvOr("VEMTU_BIN", ".") + "/" + name;
}

void CheckScenario::SetUp() {
  AgentScenario::SetUp();
  check_exe_ = agent_ + (UnderWine() ? "/vemtu-check.exe" : "/vemtu-check");
  std::filesystem::copy_file(BuiltTool("vemtu-check"), check_exe_,
                             std::filesystem::copy_options::overwrite_existing);
}

CheckRun CheckScenario::RunCheck(const std::vector<std::string>& args) {
  return RunTool(check_exe_, args, agent_);
}

CheckRun RunTool(const std::string& exe, const std::vector<std::string>& args,
                 const std::string& folder) {
  std::string command = "cd " + ShellQuote(folder) + " && ";
  std::string wrapper = EnvOr("VEMTU_AGENT_WRAPPER", "");
  if (!wrapper.empty() && exe.size() > 4 && exe.substr(exe.size() - 4) == ".exe")
    command += ShellQuote(wrapper) + " ";
  command += ShellQuote(exe);
  for (const auto& arg : args) command += " " + ShellQuote(arg);
  command += " </dev/null 2>&1";
  CommandOutput captured = CaptureCommand(command);
  CheckRun run;
  run.exit_code = captured.exit_code;
  run.out = captured.out;
  std::string clean;  // the Windows build ends its lines with CR LF
  for (char c : run.out)
    if (c != '\r') clean += c;
  run.out = clean;
  return run;
}

std::string CheckScenario::LineWith(const std::string& out, const std::string& text) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (line.find(text) != std::string::npos) return line;
  return {};
}

}  // namespace vemtu::test
