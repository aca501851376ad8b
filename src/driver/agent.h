// The agent's run, called by the platform's entry point.
#pragma once

namespace vemtu {

// Runs the agent for the command-line text after the program name (blanks after the
// program name already skipped). Returns the process exit code, 0 on every path.
int RunAgent(const char* command_tail) noexcept;

}  // namespace vemtu
