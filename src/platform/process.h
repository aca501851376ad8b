// Processes: own id and priority, other processes by id, detached starts, privileges.
#pragma once

#include <cstdint>
#include <string>

namespace vemtu::platform {

using ProcessId = std::uint32_t;

ProcessId CurrentProcessId();

// Raises the process's priority class to high and the main thread's to highest.
// Failures are ignored (on Linux an unprivileged user cannot raise it).
void RaiseOwnPriority();

// Another process opened with full access; move-only, closed by its destructor.
class ProcessHandle {
 public:
  ProcessHandle() = default;
  ~ProcessHandle();
  ProcessHandle(ProcessHandle&& other) noexcept;
  ProcessHandle& operator=(ProcessHandle&& other) noexcept;
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  // Opens process `pid`; IsOpen() is false when it does not exist or may not be opened.
  static ProcessHandle Open(ProcessId pid);
  bool IsOpen() const;
  // Full path of the process's main module, cut at `max_chars` characters; false when
  // it cannot be read.
  bool ImagePath(std::string& path, std::size_t max_chars) const;
  // Ends the process with `exit_code`; the platform's result.
  bool Terminate(unsigned exit_code);
  void Close();

 private:
  std::intptr_t handle_ = 0;  // Windows: HANDLE; Linux: pid (0 when not open)
};

// Starts `"exe" word`, where `quoted_exe` already carries its quotes: a new process on
// the interactive desktop with a new console and high priority, never waited for.
bool SpawnDetached(const std::string& quoted_exe, const std::string& word);

// The process's own access token, opened with the right to adjust privileges.
class AccessToken {
 public:
  AccessToken() = default;
  ~AccessToken();
  AccessToken(AccessToken&& other) noexcept;
  AccessToken& operator=(AccessToken&& other) noexcept;
  AccessToken(const AccessToken&) = delete;
  AccessToken& operator=(const AccessToken&) = delete;

  static AccessToken OpenOwn();
  bool IsOpen() const;
  std::intptr_t native() const { return handle_; }

 private:
  std::intptr_t handle_ = 0;
};

// Looks the privilege up by name on the local system and adjusts the token with exactly
// that privilege, enabled or not; true only when the platform reports no error after
// the adjustment. Always true on Linux, where there is nothing to adjust.
bool EnablePrivilege(AccessToken& token, const char* privilege_name, bool enable);

}  // namespace vemtu::platform
