// Running the built agent from scenario tests: natively, or the Windows build under wine
// (chosen by the environment that ctest sets: VEMTU_AGENT_EXE, VEMTU_AGENT_WRAPPER).
#pragma once

#include <string>
#include <vector>

namespace vemtu::test {

// True when this test run drives the Windows build under wine.
bool UnderWine();

// Copies the agent (and the stand-in libraries beside it) into `folder`; returns the
// path of the copied Vemtu.EXE. The agent derives all its paths from its own folder.
std::string InstallAgent(const std::string& folder);

struct RunResult {
  int exit_code = -1;   // -1 when it did not exit normally
  bool timed_out = false;
};

// Runs `exe` with `args` (each one argument) and waits at most `timeout_ms`.
RunResult RunAgent(const std::string& exe, const std::vector<std::string>& args,
                   int timeout_ms = 60000);

// Starts `exe` with `args` without waiting; returns the process id (of the wrapper
// under wine). WaitAgent waits for it.
int StartAgent(const std::string& exe, const std::vector<std::string>& args);
RunResult WaitAgent(int pid, int timeout_ms = 60000);

// Runs any program with arguments and waits; its exit code or -1.
int RunProgram(const std::vector<std::string>& argv, int timeout_ms = 60000);

// `arg` in single quotes for a shell command line.
std::string ShellQuote(const std::string& arg);

struct CommandOutput {
  std::string out;     // standard output as the command wrote it
  int exit_code = -1;  // -1 when it did not exit normally
};

// Runs a shell command line and collects its standard output.
CommandOutput CaptureCommand(const std::string& command);

}  // namespace vemtu::test
