#include "check_scenario.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

namespace vemtu::test {

namespace {

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

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
  std::string command = "cd " + Quote(folder) + " && ";
  std::string wrapper = EnvOr("VEMTU_AGENT_WRAPPER", "");
  if (!wrapper.empty() && exe.size() > 4 && exe.substr(exe.size() - 4) == ".exe")
    command += Quote(wrapper) + " ";
  command += Quote(exe);
  for (const auto& arg : args) command += " " + Quote(arg);
  command += " </dev/null 2>&1";
  CheckRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
