#include "driver/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "driver/agent_process.h"
#include "driver/category.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "posting/run_record.h"
#include "support/test_files.h"

namespace vemtu {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::string Native(const char* fixed) { return platform::NativePath(fixed); }

// ---- Category selection ------------------------------------------------------------

TEST(SelectCategory, MatchesWholeWordsWithoutCaseAndKeepsTheTypedName) {
  // The lock name comes from the canonical word, so "status" and "Status" share one.
  struct Case {
    const char* tail;
    bool selected;
    CategoryKind kind;
    const char* name;
    const char* lock;
  } cases[] = {
      {"", true, CategoryKind::kAlertTkt, "AlertTkt", "RHOVAN_KOLT_MUTEXAlertTkt"},
      {"Status", true, CategoryKind::kStatus, "Status", "RHOVAN_KOLT_MUTEXStatus"},
      {"status", true, CategoryKind::kStatus, "status", "RHOVAN_KOLT_MUTEXStatus"},
      {"atpostlogs", true, CategoryKind::kATPostLogs, "atpostlogs", "RHOVAN_KOLT_MUTEXATPostLogs"},
      {"CONFIGURATION", true, CategoryKind::kConfiguration, "CONFIGURATION",
       "RHOVAN_KOLT_MUTEXConfiguration"},
      {"Status ", false, {}, "", ""},
      {"Status Status", false, {}, "", ""},
      {"AlertTkt", false, {}, "", ""},
      {"Stat", false, {}, "", ""},
      {"junk", false, {}, "", ""},
  };
  for (const Case& c : cases) {
    std::optional<Category> got = SelectCategory(c.tail);
    ASSERT_EQ(got.has_value(), c.selected) << '"' << c.tail << '"';
    if (!got) continue;
    EXPECT_EQ(got->kind, c.kind) << c.tail;
    EXPECT_EQ(got->name, c.name);
    EXPECT_EQ(InstanceLockName(*got), c.lock);
  }
}

// ---- Paths -------------------------------------------------------------------------

// The run log keeps the word as typed; the record and the folders follow the canonical
// word, so that every run of the category shares them.
TEST(StartupPaths, AreBuiltFromTheExecutableFolderAndTheCategoryWords) {
  RunContext ctx;
  const std::string dir = Native("\\opt\\agent");
  StartupPaths paths = BuildExecutablePaths(ctx, dir + Native("\\Vemtu.EXE"));
  BuildCategoryPaths(ctx, paths, *SelectCategory("status"));

  EXPECT_EQ(ctx.quoted_exe_path.str(), "\"" + dir + Native("\\Vemtu.EXE") + "\"");
  EXPECT_EQ(ctx.exe_dir.str(), dir);
  EXPECT_EQ(paths.config_dir, dir + Native("\\Configuration\\WebPost"));
  EXPECT_EQ(ctx.config_ini_path.str(), dir + Native("\\Configuration\\WebPost\\WebPostConfig.INI"));
  EXPECT_EQ(ctx.run_log_path.str(),
            dir + Native("\\ApplicationLog\\WebPost\\WebPostExe\\WebPoststatus.log"));
  EXPECT_EQ(ctx.agent_ini_path.str(), dir + Native("\\KOLTMobile.INI"));
  EXPECT_EQ(ctx.category_ini_path.str(), dir + Native("\\Configuration\\WebPost\\VemtuStatus.INI"));
  EXPECT_EQ(ctx.category_folder.str(), dir + Native("\\Status"));
  EXPECT_EQ(ctx.error_folder.str(), dir + Native("\\Status\\Error"));
  EXPECT_EQ(ctx.category.str(), "status");
}

TEST(StartupPaths, AnOverlongExecutablePathIsCutNotOverrun) {
  RunContext ctx;
  std::string exe = Native("\\") + std::string(400, 'd') + Native("\\Vemtu.EXE");
  StartupPaths paths = BuildExecutablePaths(ctx, exe);
  const std::string word(800, 'k');
  BuildCategoryPaths(ctx, paths, Category{CategoryKind::kStatus, word, word});
  EXPECT_EQ(ctx.quoted_exe_path.size(), 260u);  // quote + 258 characters + quote
  EXPECT_EQ(ctx.run_log_path.size(), kPathCapacity - 1);
  EXPECT_EQ(ctx.category_ini_path.size(), 719u);
}

// ---- Process recognition -----------------------------------------------------------

TEST(AgentProcess, RecognisesOnlyTheFixedImageName) {
  const char sep = platform::kPathSeparator;
  struct Case {
    std::string path;
    bool agent;
  } cases[] = {
      {std::string("x") + sep + "Vemtu.EXE", true},
      {std::string("x") + sep + "vemtu.exe", true},
      {std::string("x") + sep + "Vemtu.EXE.bak", false},
      {std::string("x") + sep + "Copy of Vemtu.EXE", false},
      {"Vemtu.EXE", false},  // no separator
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAgentImagePath(c.path), c.agent) << c.path;
}

TEST(AgentProcess, AnotherProgramIsNeitherRecognisedNorEnded) {
  // This test program is alive but is not named Vemtu.EXE.
  platform::ProcessId self = platform::CurrentProcessId();
  EXPECT_FALSE(IsAgentProcessRunning(self));
  EXPECT_TRUE(TerminateAgentProcess(self));  // "nothing to end", and we are still here
  EXPECT_FALSE(IsAgentProcessRunning(0x7FFFFFF0u));
  EXPECT_TRUE(TerminateAgentProcess(0x7FFFFFF0u));
}

// ---- Previous-run check ------------------------------------------------------------

// An earlier run that is alive until ended; `ends_after_first_look` makes it end between
// the two looks of one attempt.
class FakeProcesses : public AgentProcesses {
 public:
  bool alive = true;
  bool can_terminate = true;
  bool ends_after_first_look = false;
  int terminated = 0;
  platform::ProcessId last_pid = 0;

  bool IsRunning(platform::ProcessId pid) override {
    last_pid = pid;
    bool was = alive;
    if (ends_after_first_look) alive = false;
    return was;
  }
  bool Terminate(platform::ProcessId pid) override {
    last_pid = pid;
    if (!can_terminate) return false;
    ++terminated;
    alive = false;
    return true;
  }
};

// Counts the lock's use: every single INI access must be one wait and one release, and
// `holds` counts the outermost ones (the lock is recursive).
class CountingLock : public InterProcessLock {
 public:
  CountingLock(int& waits, int& releases, int& holds)
      : waits_(waits), releases_(releases), holds_(holds) {}
  WaitResult Wait(unsigned long) override {
    ++waits_;
    if (depth_++ == 0) ++holds_;
    return WaitResult::kTimedOut;  // the access happens anyway
  }
  bool Release() override {
    ++releases_;
    --depth_;
    return false;
  }

 private:
  int& waits_;
  int& releases_;
  int& holds_;
  int depth_ = 0;
};

class PreviousRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.category = "Status";
    ctx.category_ini_path = dir.path().string() + Native("\\VemtuStatus.INI");
    ctx.run_log_path = dir.path().string() + Native("\\WebPostStatus.log");
    ctx.instance_lock = std::make_unique<CountingLock>(waits, releases, holds);
  }
  void Record(const std::string& pid, const std::string& cycle) {
    platform::WriteProfileText(ctx.category_ini_path.str(), "WebPostCycles", "StatusPID", pid);
    if (!cycle.empty()) {
      platform::WriteProfileText(ctx.category_ini_path.str(), "WebPostCycles", "StatusCycle",
                                 cycle);
    }
  }
  std::string Cycle() {
    return platform::GetProfileText(ctx.category_ini_path.str(), "WebPostCycles", "StatusCycle",
                                    "", 99);
  }
  std::string Log() { return ReadFileBytes(ctx.run_log_path.str()); }

  TempDir dir;
  RunContext ctx;
  FakeProcesses processes;
  int waits = 0, releases = 0, holds = 0;
};

TEST_F(PreviousRunTest, NoUsablePidMeansTheEarlierRunIsGone) {
  for (const char* pid : {"", "junk", "0", "-42", "-2147483649"}) {
    Record(pid, "");
    EXPECT_EQ(CheckPreviousRun(ctx, processes), PreviousRun::kGone) << pid;
    EXPECT_EQ(Cycle(), "") << pid;  // the counter is not touched
  }
  EXPECT_EQ(processes.last_pid, 0u);  // never asked about
  EXPECT_NE(ctx.instance_lock, nullptr);
}

TEST_F(PreviousRunTest, ARecordedIdNowOwnedByThisProcessMeansTheEarlierRunIsGone) {
  // The id outlived its run (a crash, a reboot) and is now this process's own: this run
  // neither refuses itself nor, at the tenth attempt, ends itself.
  for (const char* cycle : {"3", "9"}) {
    Record(std::to_string(platform::CurrentProcessId()), cycle);
    EXPECT_EQ(CheckPreviousRun(ctx, processes), PreviousRun::kGone) << cycle;
    EXPECT_EQ(Cycle(), cycle);  // the counter is not touched
  }
  EXPECT_EQ(processes.terminated, 0);
  EXPECT_EQ(processes.last_pid, 0u);
  EXPECT_NE(ctx.instance_lock, nullptr);
  EXPECT_FALSE(test::FileExists(ctx.run_log_path.str()));
}

TEST_F(PreviousRunTest, AttemptsOneToNineAreRefusedAndTheTenthEndsTheEarlierRun) {
  Record("4242abc", "-5");  // leading digits count; a negative counter counts as 0
  for (int attempt = 1; attempt <= 9; ++attempt) {
    ctx.instance_lock = std::make_unique<CountingLock>(waits, releases, holds);
    EXPECT_EQ(ClaimCategory(ctx, processes), PreviousRun::kStillRunning) << attempt;
    EXPECT_EQ(Cycle(), std::to_string(attempt));
    EXPECT_EQ(ctx.instance_lock, nullptr);  // closed and forgotten
  }
  EXPECT_EQ(processes.last_pid, 4242u);
  ctx.instance_lock = std::make_unique<CountingLock>(waits, releases, holds);
  EXPECT_EQ(ClaimCategory(ctx, processes), PreviousRun::kGone);
  EXPECT_EQ(processes.terminated, 1);
  EXPECT_NE(ctx.instance_lock, nullptr);
  // Refused: read PID, read Cycle, write Cycle; started: those and two writes. Each
  // access is a wait and a release of its own, all inside one hold per attempt.
  EXPECT_EQ(holds, 10);
  EXPECT_EQ(waits, 9 * 4 + 6);
  EXPECT_EQ(releases, waits);
  EXPECT_EQ(Cycle(), "0");
  EXPECT_EQ(ReadRunRecordKey(ctx, "PID"), std::to_string(platform::CurrentProcessId()));
  std::string log = Log();
  std::size_t refusals = 0;
  for (std::size_t at = 0; (at = log.find("MSG: Previous process is still running", at)) !=
                           std::string::npos;
       ++at) {
    ++refusals;
  }
  EXPECT_EQ(refusals, 9u);
  EXPECT_NE(log.find("\tMSG: Started Web Posting\t"), std::string::npos);
}

TEST_F(PreviousRunTest, AFailedTerminationRefusesTheRun) {
  Record("77", "9");
  processes.can_terminate = false;
  EXPECT_EQ(ClaimCategory(ctx, processes), PreviousRun::kNotEnded);
  EXPECT_EQ(Cycle(), "10");
  EXPECT_EQ(ctx.instance_lock, nullptr);
  EXPECT_EQ(holds, 1);
  EXPECT_NE(Log().find("\tMSG: Unable to terminate previous process\t"), std::string::npos);
  EXPECT_EQ(Log().find("Started"), std::string::npos);
}

TEST_F(PreviousRunTest, ARunThatCannotRecordItsIdIsRefused) {
  std::filesystem::create_directory(ctx.category_ini_path.str());  // no INI can be written
  EXPECT_EQ(ClaimCategory(ctx, processes), PreviousRun::kNotRecorded);
  EXPECT_EQ(ctx.instance_lock, nullptr);
  EXPECT_NE(Log().find("\tERR: Unable to record process ID, nothing is posted\t"), std::string::npos);
}

TEST_F(PreviousRunTest, AnEarlierRunEndingBetweenTheTwoLooksLetsThisOneStart) {
  Record("77", "3");
  processes.ends_after_first_look = true;
  EXPECT_EQ(CheckPreviousRun(ctx, processes), PreviousRun::kGone);
  EXPECT_EQ(Cycle(), "4");  // raised all the same
  EXPECT_EQ(processes.terminated, 0);
  EXPECT_FALSE(test::FileExists(ctx.run_log_path.str()));
}

TEST_F(PreviousRunTest, EndRunRecordClearsThePidAndForgetsTheLock) {
  Record("77", "6");
  EndRunRecord(ctx);
  EXPECT_EQ(Cycle(), "0");
  EXPECT_EQ(ReadRunRecordKey(ctx, "PID"), "");
  EXPECT_EQ(ctx.instance_lock, nullptr);
  EXPECT_EQ(waits, 1);  // one hold for both writes
  std::string ini = ReadFileBytes(ctx.category_ini_path.str());
  EXPECT_NE(ini.find("StatusPID="), std::string::npos);
}

TEST_F(PreviousRunTest, OverlongValuesAreReadCutAtTheirCapacity) {
  Record(std::string(500, '7'), std::string(500, '1'));
  EXPECT_EQ(ReadRunRecordKey(ctx, "PID").size(), 99u);
  EXPECT_EQ(CheckPreviousRun(ctx, processes), PreviousRun::kGone);  // clamped, counter huge
  EXPECT_EQ(processes.terminated, 1);
}

}  // namespace
}  // namespace vemtu
