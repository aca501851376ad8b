// Runs the built agent in a fresh folder: category selection, the run log and the
// run's record, the single-instance check against live earlier runs, and the log's
// locking and size limit seen from whole processes.
#include <sys/wait.h>

#include <regex>

#include "startup_scenario.h"

namespace vemtu::startup_test {
namespace {

TEST_F(StartupScenario, TextThatIsNoCategoryWritesNothing) {
  const std::set<std::string> before = Listing();
  const std::vector<std::vector<std::string>> cases = {
      {"junk"}, {"Status", "Status"}, {"Status "}, {"AlertTkt"},
      // Empty arguments are quoted on the command line: text, not nothing.
      {""}, {"", ""}, {"Status", ""}, {"\"Status\""}};
  for (const auto& args : cases) {
    test::RunResult result = Run(args);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(Listing(), before) << "\"" << args[0] << "\" of " << args.size();
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
  EXPECT_TRUE(fs::is_directory(dir.path() / "Configuration" / "WebPost"));
}

TEST_F(StartupScenario, LowerCaseStatusLeavesTheStatusModeOff) {
  test::ScriptedServer server;
  server.SetDefault(test::Reply::Status(200, "1"));
  WriteAgentIni(server.BaseUrl());
  WriteFileBytes(dir.path() / "Status" / "ST_1.txt", "plain");
  EXPECT_EQ(Run({"status"}).exit_code, 0);
  std::string log = RunLog("status");
  EXPECT_EQ(Count(log, kStarted), 1u) << log;
  // "status" finds the folder "Status" on both builds, but the Status mode needs the name
  // as written: the plain file is set aside unposted, and no second folder is made.
  EXPECT_TRUE(FileExists(dir.path() / "Status" / "Error" / "ST_1.txt"));
  EXPECT_FALSE(FileExists(dir.path() / "Status" / "ST_1.txt"));
  if (!test::UnderWine()) EXPECT_FALSE(fs::exists(dir.path() / "status"));
  EXPECT_EQ(server.RequestCount(), 0u);
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

TEST_F(StartupScenario, StartsReleasedAtOnceLetExactlyOneRunPost) {
  // The run that starts posts to a server that never answers, so it stays alive while
  // the others check. A holder of the instance lock queues all starts on it and then
  // lets them go at once.
  test::ScriptedServer server;
  server.SetDefault(test::Reply::Of(test::ReplyKind::kStall));
  WriteAgentIni(server.BaseUrl());
  constexpr int kStarts = 8;
  const int rounds = test::UnderWine() ? 3 : 6;
  const int hold_ms = test::UnderWine() ? 3000 : 1000;
  for (int round = 0; round < rounds; ++round) {
    WriteFileBytes(dir.path() / "ATPostLogs" / ("A" + std::to_string(round) + "_1.txt"), "a");
    Sleeper holder(dir.path() / "holder", test::UnderWine() ? "holder.exe" : "holder",
                   "RHOVAN_KOLT_MUTEXATPostLogs", hold_ms);
    ASSERT_NE(holder.pid(), 0u);
    std::vector<int> pids;
    for (int i = 0; i < kStarts; ++i) pids.push_back(test::StartAgent(exe, {"ATPostLogs"}));

    auto decided = [&] {
      std::string log = RunLog("ATPostLogs");
      return Count(log, kStarted) + Count(log, kStillRunning);
    };
    EXPECT_TRUE(WaitFor([&] { return decided() >= std::size_t(kStarts) * (round + 1); }, 60000));
    const std::size_t started = Count(RunLog("ATPostLogs"), kStarted) - round;
    // The run that started posts (and stays, as nothing answers); the refused ones end.
    if (started == 1) {
      EXPECT_TRUE(WaitFor([&] { return server.RequestCount() == std::size_t(round + 1); }, 30000));
    }
    std::set<int> running(pids.begin(), pids.end());
    WaitFor([&] {
      for (auto it = running.begin(); it != running.end();) {
        it = waitpid(*it, nullptr, WNOHANG) == *it ? running.erase(it) : std::next(it);
      }
      return running.size() <= started;
    }, 30000);
    // Only the run itself: under wine its process group may hold wine's desktop process.
    for (int pid : running) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }

    ASSERT_EQ(started, 1u) << "round " << round;
    EXPECT_EQ(running.size(), 1u) << "round " << round;
    EXPECT_EQ(Count(RunLog("ATPostLogs"), kStillRunning), std::size_t(kStarts - 1) * (round + 1));
    EXPECT_EQ(server.RequestCount(), std::size_t(round + 1));
  }
}

TEST_F(StartupScenario, RecordedPidOfAnotherProgramIsNeverEnded) {
  // Under wine a program's name needs its ".exe"; natively a name that only looks like
  // the mark of a replaced program is another program too, and under wine one whose
  // fullwidth "V" the code page would best-fit.
  std::vector<std::string> names = {test::UnderWine() ? "sleeper.exe" : "sleeper"};
  names.push_back(test::UnderWine() ? "\uFF36emtu.EXE" : "Vemtu.EXE (deleted)");
  for (const std::string& name : names) {
    Sleeper other(dir.path() / "other", name);
    ASSERT_NE(other.pid(), 0u);
    RecordEarlierRun("Configuration", other.pid(), 9);

    EXPECT_EQ(Run({"Configuration"}).exit_code, 0);
    EXPECT_EQ(IniValue(ReadFileBytes(CategoryIni("Configuration")), "ConfigurationCycle"), "0")
        << name;
    EXPECT_TRUE(other.Alive()) << name;
  }
  EXPECT_EQ(Count(RunLog("Configuration"), kStarted), names.size());
}

TEST_F(StartupScenario, AnEarlierRunWhoseProgramWasReplacedIsStillRecognised) {
  Sleeper earlier(dir.path() / "earlier", "Vemtu.EXE");
  ASSERT_NE(earlier.pid(), 0u);
  // An update puts a new file in place under the same name while the old run goes on.
  fs::path program = dir.path() / "earlier" / "Vemtu.EXE";
  fs::copy_file(program, dir.path() / "earlier" / "Vemtu.new");
  fs::rename(dir.path() / "earlier" / "Vemtu.new", program);
  RecordEarlierRun("Configuration", earlier.pid(), 0);

  EXPECT_EQ(Run({"Configuration"}).exit_code, 0);
  EXPECT_EQ(Count(RunLog("Configuration"), kStillRunning), 1u);
  EXPECT_EQ(Count(RunLog("Configuration"), kStarted), 0u);
  // The tenth attempt can end it.
  RecordEarlierRun("Configuration", earlier.pid(), 9);
  EXPECT_EQ(Run({"Configuration"}).exit_code, 0);
  EXPECT_TRUE(earlier.EndsWithin(10000));
  EXPECT_EQ(Count(RunLog("Configuration"), kStarted), 1u);
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
}  // namespace vemtu::startup_test
