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

// The run log keeps the word as typed; the record is the Status one, as the folder is.
TEST_F(StartupScenario, LowerCaseStatusKeepsItsLetterCaseInTheLogOnly) {
  test::RunResult result = Run({"status"});
  EXPECT_EQ(result.exit_code, 0);
  std::string log = RunLog("status");
  EXPECT_EQ(Count(log, kStarted), 1u);
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(RunLogPath("status").parent_path())) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names.count("WebPoststatus.log"), 1u);

  std::string ini = ReadFileBytes(CategoryIni("Status"));
  EXPECT_NE(IniValue(ini, "statusPID"), "<none>") << ini;
  EXPECT_EQ(IniValue(ini, "statusCycle"), "0") << ini;
  EXPECT_TRUE(fs::is_directory(dir.path() / "Configuration" / "WebPost"));
  if (!test::UnderWine()) EXPECT_FALSE(FileExists(CategoryIni("status")));
}

// "status" and "Status" are one category: a run typed either way finds the other's
// record and is refused while that run waits, and takes nothing from its folder.
TEST_F(StartupScenario, LowerCaseStatusBesideAWaitingStatusRunIsRefused) {
  Sleeper earlier(dir.path() / "earlier", "Vemtu.EXE");
  ASSERT_NE(earlier.pid(), 0u);
  RecordEarlierRun("Status", earlier.pid(), 0);
  WriteFileBytes(dir.path() / "Status" / "ST_1.txt", "plain");
  EXPECT_EQ(Run({"status"}).exit_code, 0);
  std::string log = RunLog("status");
  EXPECT_EQ(Count(log, kStillRunning), 1u) << log;
  EXPECT_EQ(Count(log, kStarted), 0u) << log;
  EXPECT_EQ(IniValue(ReadFileBytes(CategoryIni("Status")), "StatusCycle"), "1");
  EXPECT_TRUE(FileExists(dir.path() / "Status" / "ST_1.txt"));
  if (!test::UnderWine()) EXPECT_FALSE(FileExists(CategoryIni("status")));
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

// Two runs of one category started while the first posts to a slow server: whatever
// stands around the category INI, the second never posts beside the first. A run that
// cannot record its process id (its INI only reachable through a link) posts nothing.
struct OverlapCase {
  const char* what;
  std::function<void(const fs::path& root)> prepare;
  std::size_t posts;
};

// A folder below `base` whose agent path, as the agent sees it, is `length` characters.
fs::path FolderForAgentPathOf(fs::path base, std::size_t length) {
  const std::size_t seen = (test::UnderWine() ? 2 : 0) + std::string("/Vemtu.EXE").size();
  while (base.string().size() + seen < length) {
    base /= std::string(std::min<std::size_t>(100, length - seen - base.string().size() - 1), 'x');
  }
  return base;
}

TEST_F(StartupScenario, OverlappingRunsPostEachFileOnce) {
  const fs::path outside = dir.path() / "outside";
  const OverlapCase cases[] = {
      {"plain folders", [](const fs::path&) {}, 3},
      {"a folder planted at the INI's name + .new",
       [](const fs::path& root) {
         fs::create_directories(root / "Configuration/WebPost/VemtuATPostLogs.INI.new");
       }, 3},
      {"an INI folder that takes no new names",
       [](const fs::path& root) {
         WriteFileBytes(root / "Configuration/WebPost/VemtuATPostLogs.INI", "[WebPostCycles]\r\n");
         const std::string folder = (root / "Configuration/WebPost").string();
         ASSERT_EQ(test::RunProgram({"/usr/bin/chattr", "+i", folder}), 0);
       }, 3},
      {"a linked configuration folder",
       [&outside](const fs::path& root) {
         WriteFileBytes(outside / "VemtuATPostLogs.INI", "[WebPostCycles]\r\nATPostLogsPID=\r\n");
         fs::create_directories(root / "Configuration");
         fs::create_directory_symlink(outside, root / "Configuration/WebPost");
       }, 0},
      {"a 253-character agent path", [](const fs::path&) {}, 3},
  };
  test::ScriptedServer server;
  test::Reply slow = test::Reply::Status(200, "1");
  slow.delay_ms = test::UnderWine() ? 4000 : 2000;
  server.SetDefault(slow);
  int row = 0;
  for (const OverlapCase& c : cases) {
    fs::path root = dir.path() / ("r" + std::to_string(row++));
    if (c.what == std::string("a 253-character agent path")) root = FolderForAgentPathOf(root, 253);
    fs::create_directories(root / "ATPostLogs");
    const std::string agent = test::InstallAgent(root.string());
    WriteFileBytes(root / "KOLTMobile.INI",
                   "[MACHINE_INFO]\r\nDCRegId=R1\r\nAgentType=T1\r\n[CONTROLLER_INFO]\r\n"
                   "MemberId=M1\r\nSiteId=S1\r\n[DCConnURL]\r\nControllerPSite=" +
                       server.BaseUrl() + "/dc\r\n");
    for (const char* name : {"A_1.txt", "B_1.txt", "C_1.txt"}) WriteFileBytes(root / "ATPostLogs" / name, "x");
    c.prepare(root);
    const std::size_t before = server.RequestCount();

    const int first = test::StartAgent(agent, {"ATPostLogs"});
    WaitFor([&] { return server.RequestCount() > before; }, c.posts ? 30000 : 3000);
    const int second = test::StartAgent(agent, {"ATPostLogs"});
    test::WaitAgent(second, 120000);
    test::WaitAgent(first, 120000);
    test::RunProgram({"/usr/bin/chattr", "-i", (root / "Configuration/WebPost").string()});

    EXPECT_EQ(server.RequestCount() - before, c.posts) << c.what;
    const std::string log = ReadFileBytes(root / "ApplicationLog/WebPost/WebPostExe/WebPostATPostLogs.log");
    EXPECT_EQ(Count(log, c.posts ? kStillRunning : "ERR: Unable to record process ID"), c.posts ? 1u : 2u)
        << c.what << "\n" << log;
  }
  EXPECT_EQ(ReadFileBytes(outside / "VemtuATPostLogs.INI"), "[WebPostCycles]\r\nATPostLogsPID=\r\n");
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
