// What the start-up scenarios share: a fresh agent folder with the built agent in it,
// a long-lived stand-in for an earlier run, a user of its own, and readers of the run
// log and the category INI.
#pragma once

#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/agent_runner.h"
#include "support/scripted_server.h"
#include "support/test_files.h"

namespace vemtu::startup_test {

namespace fs = std::filesystem;
using test::FileExists;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

inline constexpr const char* kStarted = "MSG: Started Web Posting";
inline constexpr const char* kStillRunning = "MSG: Previous process is still running";

inline std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The value of `key` in an INI text (keys as the agent writes them); "<none>" if absent.
inline std::string IniValue(const std::string& text, const std::string& key) {
  std::size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return "<none>";
  std::size_t start = at + key.size() + 2;
  return text.substr(start, text.find_first_of("\r\n", start) - start);
}

inline bool WaitFor(const std::function<bool()>& condition, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A long-lived program standing in for an earlier run, killed when the test ends.
class Sleeper {
 public:
  // Copies the sleeper into `folder` as `file_name` and starts it; `lock` and `hold_ms`
  // make it hold that named lock until the time is up, counted from its start.
  Sleeper(const fs::path& folder, const std::string& file_name, const std::string& lock = "",
          int hold_ms = 0) {
    std::string bin = test::UnderWine() ? test::EnvOr("VEMTU_WINDOWS_BIN", "")
                                        : test::EnvOr("VEMTU_BIN", ".");
    fs::path built = fs::path(bin) / (test::UnderWine() ? "startup_sleeper.exe" : "startup_sleeper");
    fs::create_directories(folder);
    fs::copy_file(built, folder / file_name, fs::copy_options::overwrite_existing);
    fs::path pid_file = folder / "sleeper.pid";
    fs::remove(pid_file);  // a sleeper before it may have left one
    // Under wine the Linux path is reached through drive Z:.
    std::string pid_arg = (test::UnderWine() ? "Z:" : "") + pid_file.string();
    std::vector<std::string> args = {pid_arg, "120"};
    if (!lock.empty()) args.insert(args.end(), {"lock", lock, std::to_string(hold_ms)});
    unix_pid_ = test::StartAgent((folder / file_name).string(), args);
    if (WaitFor([&] { return FileExists(pid_file); }, 30000)) {
      pid_ = std::stoul(ReadFileBytes(pid_file));
    }
  }
  ~Sleeper() {
    if (Alive()) {
      kill(unix_pid_, SIGKILL);
      waitpid(unix_pid_, nullptr, 0);
    }
  }
  // The process id the agent sees (under wine: the Windows one).
  unsigned long pid() const { return pid_; }
  bool Alive() {
    if (reaped_) return false;
    int status = 0;
    if (waitpid(unix_pid_, &status, WNOHANG) == unix_pid_) reaped_ = true;
    return !reaped_;
  }
  bool EndsWithin(int timeout_ms) {
    return WaitFor([this] { return !Alive(); }, timeout_ms);
  }

 private:
  int unix_pid_ = -1;
  unsigned long pid_ = 0;
  bool reaped_ = false;
};

// A user of its own for one test, removed afterwards. Only root can add one.
class TestUser {
 public:
  TestUser() : name_("vemtu-t" + std::to_string(getpid())) {
    if (geteuid() != 0) return;
    if (test::RunProgram({"/usr/sbin/useradd", "-M", "-N", "-s", "/usr/sbin/nologin", name_}) != 0) {
      return;
    }
    if (const passwd* entry = getpwnam(name_.c_str())) {
      uid_ = entry->pw_uid;
      gid_ = entry->pw_gid;
      added_ = true;
    }
  }
  ~TestUser() {
    if (added_) test::RunProgram({"/usr/sbin/userdel", name_});
  }
  bool added() const { return added_; }
  // Gives everything under `folder`, and the folder, to this user.
  void Own(const fs::path& folder) const {
    lchown(folder.c_str(), uid_, gid_);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      lchown(entry.path().c_str(), uid_, gid_);
    }
  }
  // Runs `argv` as this user and waits; its exit code or -1.
  int Run(std::vector<std::string> argv) const {
    argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", name_, "--"});
    return test::RunProgram(argv);
  }

 private:
  std::string name_;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  bool added_ = false;
};

class StartupScenario : public ::testing::Test {
 protected:
  void SetUp() override { exe = test::InstallAgent(dir.path().string()); }

  test::RunResult Run(const std::vector<std::string>& args) { return test::RunAgent(exe, args); }
  std::string RunLog(const std::string& category) {
    return ReadFileBytes(dir.path() / "ApplicationLog" / "WebPost" / "WebPostExe" /
                         ("WebPost" + category + ".log"));
  }
  fs::path RunLogPath(const std::string& category) {
    return dir.path() / "ApplicationLog" / "WebPost" / "WebPostExe" / ("WebPost" + category + ".log");
  }
  fs::path CategoryIni(const std::string& category) {
    return dir.path() / "Configuration" / "WebPost" / ("Vemtu" + category + ".INI");
  }
  void RecordEarlierRun(const std::string& category, unsigned long pid, int cycle) {
    WriteFileBytes(CategoryIni(category), "[WebPostCycles]\r\n" + category + "PID=" +
                                              std::to_string(pid) + "\r\n" + category +
                                              "Cycle=" + std::to_string(cycle) + "\r\n");
  }
  void WriteAgentIni(const std::string& url) {
    WriteFileBytes(dir.path() / "KOLTMobile.INI",
                   "[MACHINE_INFO]\r\nDCRegId=R1\r\nAgentType=T1\r\n[CONTROLLER_INFO]\r\n"
                   "MemberId=M1\r\nSiteId=S1\r\n[DCConnURL]\r\nControllerPSite=" + url +
                       "/dc\r\n");
  }
  std::set<std::string> Listing() {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
      names.insert(fs::relative(entry.path(), dir.path()).string());
    }
    return names;
  }

  TempDir dir;
  std::string exe;
};

}  // namespace vemtu::startup_test
