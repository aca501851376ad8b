// Processes on Linux: /proc for image paths, signals for termination, posix_spawn in a
// new session for detached starts. Privileges and access tokens have no counterpart.
#include "platform/process.h"

#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

extern char** environ;

namespace vemtu::platform {
namespace {

// True when /proc shows `pid` as a zombie: dead, only waiting to be reaped.
bool IsZombie(pid_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE* file = std::fopen(path, "re");
  if (!file) return false;
  char buffer[512];
  std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
  std::fclose(file);
  buffer[n] = '\0';
  // "pid (command) S ...": the state follows the last ')', as the command may hold one.
  const char* close = std::strrchr(buffer, ')');
  return close && close[1] == ' ' && close[2] == 'Z';
}

// True when both paths lead to one file.
bool SameFile(const char* a, const std::string& b) {
  struct stat first, second;
  return stat(a, &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace

ProcessId CurrentProcessId() { return static_cast<ProcessId>(getpid()); }

void RaiseOwnPriority() {
  // Only a privileged user may lower the nice value; otherwise nothing changes.
  int saved = errno;
  setpriority(PRIO_PROCESS, 0, -10);
  errno = saved;
}

// --- ProcessHandle ---

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
  ProcessHandle result;
  if (pid == 0 || pid > static_cast<ProcessId>(INT_MAX)) {
    errno = EINVAL;
    return result;
  }
  pid_t id = static_cast<pid_t>(pid);
  if (kill(id, 0) != 0) return result;  // ESRCH: gone; EPERM: not ours to open
  if (IsZombie(id)) {
    errno = ESRCH;
    return result;
  }
  result.handle_ = id;
  return result;
}

bool ProcessHandle::IsOpen() const { return handle_ != 0; }

bool ProcessHandle::ImagePath(std::string& path, std::size_t max_chars) const {
  if (handle_ == 0) {
    errno = EBADF;
    return false;
  }
  char link[64];
  std::snprintf(link, sizeof link, "/proc/%d/exe", static_cast<int>(handle_));
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = readlink(link, buffer.data(), buffer.size() - 1);
  if (n <= 0) return false;
  std::string image(buffer.data(), static_cast<std::size_t>(n));
  // The kernel marks an image whose file was removed or replaced (an update of the
  // program) with " (deleted)"; the process still runs the program it started with, so
  // the mark is dropped. A file really named so still names the running image.
  constexpr std::string_view kDeleted = " (deleted)";
  if (image.size() > kDeleted.size() &&
      image.compare(image.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0 &&
      !SameFile(link, image)) {
    image.resize(image.size() - kDeleted.size());
  }
  path.assign(image, 0, max_chars);
  return true;
}

bool ProcessHandle::Terminate(unsigned /*exit_code*/) {
  // SIGKILL is as abrupt as the Windows termination; the exit code cannot be chosen.
  if (handle_ == 0) {
    errno = EBADF;
    return false;
  }
  return kill(static_cast<pid_t>(handle_), SIGKILL) == 0;
}

void ProcessHandle::Close() { handle_ = 0; }

// --- Detached start ---

bool SpawnDetached(const std::string& quoted_exe, const std::string& word) {
  std::string exe = quoted_exe;
  if (!exe.empty() && exe.front() == '"') {
    std::size_t end = exe.find('"', 1);
    exe = exe.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  if (exe.empty()) {
    errno = ENOENT;
    return false;
  }
  std::vector<char*> argv;
  argv.push_back(exe.data());
  std::string argument = word;
  if (!argument.empty()) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return false;
  // A session of its own, as a new console would be; signals at their defaults and none
  // blocked, whatever this process has set up.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                      POSIX_SPAWN_SETSIGDEF);
  pid_t child = 0;
  int rc = posix_spawn(&child, exe.c_str(), nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    errno = rc;
    return false;
  }
  return true;  // never waited for: the new run lives on its own
}

// --- Access token and privileges ---

AccessToken::~AccessToken() = default;

AccessToken::AccessToken(AccessToken&& other) noexcept : handle_(other.handle_) {
  other.handle_ = 0;
}

AccessToken& AccessToken::operator=(AccessToken&& other) noexcept {
  if (this != &other) {
    handle_ = other.handle_;
    other.handle_ = 0;
  }
  return *this;
}

AccessToken AccessToken::OpenOwn() {
  AccessToken token;
  token.handle_ = 1;  // nothing to open: a token that is simply "there"
  return token;
}

bool AccessToken::IsOpen() const { return handle_ != 0; }

bool EnablePrivilege(AccessToken& /*token*/, const char* /*privilege_name*/, bool /*enable*/) {
  errno = 0;
  return true;
}

}  // namespace vemtu::platform
