// The test program started again as a helper process: it takes a named mutex, says so
// through a file, and holds the mutex until it is killed.
#pragma once

#include <string>

#include "platform/process.h"

namespace vemtu::test {

// The argument that makes the program a helper instead of running the tests.
inline const char kHelperFlag[] = "--platform-helper=";

// A fresh token naming one helper run (and its mutex, "vemtu-platform-test-" + token).
std::string NewHelperToken();
std::string HelperMutexName(const std::string& token);

// Starts the helper that holds the mutex of `token`; false when it cannot be started.
bool StartMutexHolder(const std::string& token);

// Starts a helper that reports its process id the same way and then ends at once.
bool StartExitingHelper(const std::string& token);

// Waits until the helper of `token` holds its mutex; false after `timeout_ms` or when
// the helper could not take it. `pid` receives the helper's process id.
bool WaitForHolder(const std::string& token, platform::ProcessId& pid, unsigned timeout_ms);

// The helper's body; returns its exit code.
int RunHelper(const std::string& token);

}  // namespace vemtu::test
