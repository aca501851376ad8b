// Processes, priorities and privileges through kernel32, psapi and advapi32.
#include "platform/process.h"

// The image name of another process comes from psapi.dll itself, not from the K32
// aliases in kernel32.
#define PSAPI_VERSION 1
#include <windows.h>
#include <psapi.h>

#include <optional>
#include <vector>

#include "platform/win32/long_path.h"

namespace vemtu::platform {

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }
std::intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

void CloseIfOpen(std::intptr_t& handle) {
  if (handle != 0) CloseHandle(AsHandle(handle));
  handle = 0;
}

}  // namespace

ProcessId CurrentProcessId() { return GetCurrentProcessId(); }

void RaiseOwnPriority() {
  SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

// ---- ProcessHandle -----------------------------------------------------------------

ProcessHandle::~ProcessHandle() { Close(); }

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept : handle_(other.handle_) {
  other.handle_ = 0;
}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = 0;
  }
  return *this;
}

ProcessHandle ProcessHandle::Open(ProcessId pid) {
  ProcessHandle process;
  process.handle_ = FromHandle(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
  return process;
}

bool ProcessHandle::IsOpen() const { return handle_ != 0; }

bool ProcessHandle::ImagePath(std::string& path, std::size_t max_chars) const {
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  // Read wide and whole, then spelled exactly: the ANSI call would best-fit a look-alike
  // name ("\uFF36emtu.EXE" as "Vemtu.EXE") and so take another program for a run.
  std::vector<wchar_t> buffer(0x8000, L'\0');
  DWORD n = GetModuleFileNameExW(AsHandle(handle_), nullptr, buffer.data(),
                                 static_cast<DWORD>(buffer.size()));
  if (n == 0) return false;
  std::optional<std::string> exact = win32_detail::ExactAnsi(std::wstring(buffer.data(), n));
  if (!exact) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  path.assign(*exact, 0, max_chars);
  return true;
}

bool ProcessHandle::Terminate(unsigned exit_code) {
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return TerminateProcess(AsHandle(handle_), exit_code) != 0;
}

void ProcessHandle::Close() { CloseIfOpen(handle_); }

// ---- Starting runs -----------------------------------------------------------------

bool SpawnDetached(const std::string& quoted_exe, const std::string& word) {
  // The program is named wide and exactly, as its own application name too: the ANSI
  // functions would look up the path's best-fit spelling, and an unnamed application is
  // searched for along the command line's spaces.
  std::string exe = quoted_exe;
  if (exe.size() >= 2 && exe.front() == '"' && exe.back() == '"') exe = exe.substr(1, exe.size() - 2);
  const std::optional<std::wstring> application = win32_detail::WideFromAnsi(exe);
  const std::optional<std::wstring> text = win32_detail::WideFromAnsi(quoted_exe + " " + word);
  if (!application || application->empty() || !text) {
    ::SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  // CreateProcessW may write into the command line, so it gets a private copy.
  std::wstring command_line = *text;
  wchar_t desktop[] = L"winsta0\\default";

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION created{};
  // The new run inherits none of this run's handles (its locks, log files, sockets).
  if (!CreateProcessW(application->c_str(), &command_line[0], nullptr, nullptr, FALSE,
                      CREATE_NEW_CONSOLE | HIGH_PRIORITY_CLASS, nullptr, nullptr, &startup,
                      &created)) {
    return false;
  }
  CloseHandle(created.hThread);
  CloseHandle(created.hProcess);
  return true;
}

// ---- Access token and privileges ---------------------------------------------------

AccessToken::~AccessToken() { CloseIfOpen(handle_); }

AccessToken::AccessToken(AccessToken&& other) noexcept : handle_(other.handle_) {
  other.handle_ = 0;
}

AccessToken& AccessToken::operator=(AccessToken&& other) noexcept {
  if (this != &other) {
    CloseIfOpen(handle_);
    handle_ = other.handle_;
    other.handle_ = 0;
  }
  return *this;
}

AccessToken AccessToken::OpenOwn() {
  AccessToken token;
  HANDLE handle = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &handle)) {
    token.handle_ = FromHandle(handle);
  }
  return token;
}

bool AccessToken::IsOpen() const { return handle_ != 0; }

bool EnablePrivilege(AccessToken& token, const char* privilege_name, bool enable) {
  if (!token.IsOpen() || privilege_name == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  LUID luid{};
  if (!LookupPrivilegeValueA(nullptr, privilege_name, &luid)) return false;

  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid = luid;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  // AdjustTokenPrivileges succeeds on a partial assignment too and says so only through
  // the error number (ERROR_NOT_ALL_ASSIGNED); start from a clean number to read it.
  ::SetLastError(ERROR_SUCCESS);
  if (!AdjustTokenPrivileges(AsHandle(token.native()), FALSE, &privileges, sizeof privileges,
                             nullptr, nullptr)) {
    return false;
  }
  return GetLastError() == ERROR_SUCCESS;
}

}  // namespace vemtu::platform
