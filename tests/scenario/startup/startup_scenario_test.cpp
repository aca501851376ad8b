// Runs the built agent in a fresh folder: category selection, the run log and the
// run's record, the single-instance check against live earlier runs, and the log's
// locking and size limit seen from whole processes.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/agent_runner.h"
#include "support/test_files.h"

namespace vemtu {
namespace {

namespace fs = std::filesystem;
using test::FileExists;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

constexpr const char* kStarted = "MSG: Started Web Posting";
constexpr const char* kStillRunning = "MSG: Previous process is still running";

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The value of `key` in an INI text (keys as the agent writes them); "<none>" if absent.
std::string IniValue(const std::string& text, const std::string& key) {
  std::size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return "<none>";
  std::size_t start = at + key.size() + 2;
  return text.substr(start, text.find_first_of("\r\n", start) - start);
}

bool WaitFor(const std::function<bool()>& condition, int timeout_ms) {
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
  // Copies the sleeper into `folder` as `file_name` and starts it.
  Sleeper(const fs::path& folder, const std::string& file_name) {
    std::string bin = test::UnderWine() ? test::EnvOr("VEMTU_WINDOWS_BIN", "")
                                        : test::EnvOr("VEMTU_BIN", ".");
    fs::path built = fs::path(bin) / (test::UnderWine() ? "startup_sleeper.exe" : "startup_sleeper");
    fs::create_directories(folder);
    fs::copy_file(built, folder / file_name, fs::copy_options::overwrite_existing);
    fs::path pid_file = folder / "sleeper.pid";
    // Under wine the Linux path is reached through drive Z:.
    std::string pid_arg = (test::UnderWine() ? "Z:" : "") + pid_file.string();
    unix_pid_ = test::StartAgent((folder / file_name).string(), {pid_arg, "120"});
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

TEST_F(StartupScenario, TextThatIsNoCategoryWritesNothing) {
  const std::set<std::string> before = Listing();
  const std::vector<std::vector<std::string>> cases = {
      {"junk"}, {"Status", "Status"}, {"Status "}, {"AlertTkt"}};
  for (const auto& args : cases) {
    test::RunResult result = Run(args);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(Listing(), before) << args[0];
  }
}

TEST_F(StartupScenario, LowerCaseStatusKeepsItsLetterCase) {
  test::RunResult result = Run({"status"});
  EXPECT_EQ(result.exit_code, 0);
  std::string log = RunLog("status");
  EXPECT_EQ(Count(log, kStarted), 1u);
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(RunLogPath("status").parent_path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names.count("WebPoststatus.log"), 1u);

  std::string ini = ReadFileBytes(CategoryIni("status"));
  EXPECT_NE(IniValue(ini, "statusPID"), "<none>") << ini;
  EXPECT_EQ(IniValue(ini, "statusCycle"), "0") << ini;
  EXPECT_TRUE(fs::is_directory(dir.path() / "status" / "Error"));
  EXPECT_TRUE(fs::is_directory(dir.path() / "Configuration" / "WebPost"));
}

TEST_F(StartupScenario, EmptyCommandLineStartsAStatusRun) {
  EXPECT_EQ(Run({}).exit_code, 0);
  EXPECT_EQ(Count(RunLog("AlertTkt"), kStarted), 1u);
  EXPECT_TRUE(WaitFor([&] { return Count(RunLog("Status"), kStarted) == 1; }, 30000));
  // The detached run clears its record as it ends: wait for that before the folder goes.
  EXPECT_TRUE(WaitFor([&] {
    return IniValue(ReadFileBytes(CategoryIni("Status")), "StatusPID").empty();
  }, 30000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

TEST_F(StartupScenario, LiveEarlierRunIsRefusedNineTimesThenEnded) {
  Sleeper earlier(dir.path() / "earlier", "Vemtu.EXE");
  ASSERT_NE(earlier.pid(), 0u);
  RecordEarlierRun("Configuration", earlier.pid(), 0);

  for (int attempt = 1; attempt <= 9; ++attempt) {
    EXPECT_EQ(Run({"Configuration"}).exit_code, 0);
    EXPECT_EQ(Count(RunLog("Configuration"), kStillRunning), static_cast<std::size_t>(attempt));
    std::string ini = ReadFileBytes(CategoryIni("Configuration"));
    EXPECT_EQ(IniValue(ini, "ConfigurationCycle"), std::to_string(attempt));
    EXPECT_EQ(IniValue(ini, "ConfigurationPID"), std::to_string(earlier.pid()));
    ASSERT_TRUE(earlier.Alive());
  }
  EXPECT_EQ(Count(RunLog("Configuration"), kStarted), 0u);

  EXPECT_EQ(Run({"Configuration"}).exit_code, 0);
  EXPECT_TRUE(earlier.EndsWithin(10000));
  EXPECT_EQ(Count(RunLog("Configuration"), kStarted), 1u);
  std::string ini = ReadFileBytes(CategoryIni("Configuration"));
  EXPECT_EQ(IniValue(ini, "ConfigurationCycle"), "0");
  EXPECT_NE(IniValue(ini, "ConfigurationPID"), std::to_string(earlier.pid()));
}

TEST_F(StartupScenario, RecordedPidOfAnotherProgramIsNeverEnded) {
  Sleeper other(dir.path() / "other", test::UnderWine() ? "sleeper.exe" : "sleeper");
  ASSERT_NE(other.pid(), 0u);
  RecordEarlierRun("Configuration", other.pid(), 9);

  EXPECT_EQ(Run({"Configuration"}).exit_code, 0);
  EXPECT_EQ(Count(RunLog("Configuration"), kStarted), 1u);
  EXPECT_EQ(IniValue(ReadFileBytes(CategoryIni("Configuration")), "ConfigurationCycle"), "0");
  EXPECT_TRUE(other.Alive());
}

TEST_F(StartupScenario, ConcurrentRunsLeaveOnlyWholeLogLines) {
  constexpr int kRuns = 12;
  std::vector<int> pids;
  for (int i = 0; i < kRuns; ++i) pids.push_back(test::StartAgent(exe, {"Configuration"}));
  for (int pid : pids) EXPECT_EQ(test::WaitAgent(pid).exit_code, 0);

  std::string log = RunLog("Configuration");
  std::regex line(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M\t9999\t\t-?\d+\t0\t[^\t\r\n]*(\t[^\t\r\n]*){4}\t\r\n)");
  std::size_t lines = 0;
  for (std::size_t from = 0; from < log.size(); ++lines) {
    std::size_t end = log.find("\r\n", from);
    ASSERT_NE(end, std::string::npos) << "unterminated tail";
    std::string one = log.substr(from, end + 2 - from);
    EXPECT_TRUE(std::regex_match(one, line)) << one;
    from = end + 2;
  }
  EXPECT_GE(lines, static_cast<std::size_t>(kRuns));  // each run says at least one thing
  EXPECT_GE(Count(log, kStarted), 1u);
}

TEST_F(StartupScenario, RunLogRestartsOnlyPastTheSizeLimit) {
  // A refused run writes exactly one line, which makes the size rule visible.
  Sleeper earlier(dir.path() / "earlier", "Vemtu.EXE");
  ASSERT_NE(earlier.pid(), 0u);

  const std::string at_limit(2097152, 'a');
  WriteFileBytes(RunLogPath("Configuration"), at_limit);
  RecordEarlierRun("Configuration", earlier.pid(), 0);
  EXPECT_EQ(Run({"Configuration"}).exit_code, 0);
  std::string grown = RunLog("Configuration");
  ASSERT_GT(grown.size(), at_limit.size());
  EXPECT_EQ(grown.compare(0, at_limit.size(), at_limit), 0);
  EXPECT_EQ(Count(grown.substr(at_limit.size()), kStillRunning), 1u);

  WriteFileBytes(RunLogPath("Configuration"), std::string(2097153, 'b'));
  EXPECT_EQ(Run({"Configuration"}).exit_code, 0);
  std::string restarted = RunLog("Configuration");
  EXPECT_LT(restarted.size(), 300u);
  EXPECT_EQ(Count(restarted, kStillRunning), 1u);
  EXPECT_EQ(restarted.find('b'), std::string::npos);
}

}  // namespace
}  // namespace vemtu
