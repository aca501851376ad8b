#include "support/agent_runner.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/test_files.h"

namespace fs = std::filesystem;

namespace vemtu::test {

bool UnderWine() { return !EnvOr("VEMTU_AGENT_WRAPPER", "").empty(); }

std::string InstallAgent(const std::string& folder) {
  fs::path built = EnvOr("VEMTU_AGENT_EXE", EnvOr("VEMTU_BIN", ".") + "/Vemtu.EXE");
  fs::create_directories(folder);
  for (const auto& entry : fs::directory_iterator(built.parent_path())) {
    const std::string name = entry.path().filename().string();
    bool library = entry.path().extension() == ".so" || entry.path().extension() == ".dll";
    if (name == "Vemtu.EXE" || library) {
      fs::copy_file(entry.path(), fs::path(folder) / name, fs::copy_options::overwrite_existing);
    }
  }
  return (fs::path(folder) / "Vemtu.EXE").string();
}

static std::vector<std::string> CommandFor(const std::string& exe,
                                           const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  std::string wrapper = EnvOr("VEMTU_AGENT_WRAPPER", "");
  if (!wrapper.empty()) argv.push_back(wrapper);
  argv.push_back(exe);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

static int Spawn(const std::vector<std::string>& argv) {
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    std::vector<char*> raw;
    for (const auto& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    setpgid(0, 0);
    execv(raw[0], raw.data());
    _exit(127);
  }
  return pid;
}

RunResult WaitAgent(int pid, int timeout_ms) {
  RunResult result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (true) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      result.timed_out = true;
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

int StartAgent(const std::string& exe, const std::vector<std::string>& args) {
  return Spawn(CommandFor(exe, args));
}

RunResult RunAgent(const std::string& exe, const std::vector<std::string>& args,
                   int timeout_ms) {
  return WaitAgent(StartAgent(exe, args), timeout_ms);
}

int RunProgram(const std::vector<std::string>& argv, int timeout_ms) {
  return WaitAgent(Spawn(argv), timeout_ms).exit_code;
}

std::string ShellQuote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

CommandOutput CaptureCommand(const std::string& command) {
  CommandOutput result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace vemtu::test
