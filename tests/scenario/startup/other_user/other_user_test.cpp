// Runs of the agent under a user of its own beside locks that a root process made.
// Run alone: while such a run holds a lock, processes of other folders may not use it.
#include "platform/named_mutex.h"
#include "startup_scenario.h"

namespace vemtu::startup_test {
namespace {

using OtherUserScenario = StartupScenario;

// The instance lock is named after the canonical word, whatever letter case was typed.
constexpr const char* kCategory = "cOnFiGuRaTiOn";
constexpr const char* kInstanceLock = "RHOVAN_KOLT_MUTEXConfiguration";

TEST_F(OtherUserScenario, LocksMadeByARunOfAnotherUserServeTheFolderOwner) {
  TestUser user;
  if (!user.added()) GTEST_SKIP() << "needs root to add a user of its own";
  WriteAgentIni("http://127.0.0.1:9");
  for (const char* folder : {"Configuration/WebPost", "ApplicationLog/WebPost/WebPostExe"}) {
    fs::create_directories(dir.path() / folder);
  }
  user.Own(dir.path());
  // A root process of this agent folder makes the lock the run needs, and keeps it.
  Sleeper root_run(dir.path(), "rootrun", kInstanceLock, 0);
  ASSERT_NE(root_run.pid(), 0u);

  EXPECT_EQ(user.Run({exe, kCategory}), 0);
  std::string log = RunLog(kCategory);
  EXPECT_EQ(Count(log, kStarted), 1u) << log;
  EXPECT_EQ(Count(log, "MSG: Finished Web Posting"), 1u) << log;
}

TEST_F(OtherUserScenario, ALockThatCannotBeOpenedIsNamedInTheRunLog) {
  TestUser user;
  if (!user.added()) GTEST_SKIP() << "needs root to add a user of its own";
  fs::create_directories(dir.path() / "ApplicationLog" / "WebPost" / "WebPostExe");
  fs::create_directories(dir.path() / "Configuration" / "WebPost");
  user.Own(dir.path());
  // A lock store the user may not add its table to (root's, mode 0755) refuses every
  // lock of its runs; a lock of the same name that root holds for this test program's
  // folder stays apart, in root's own table.
  const fs::path store = dir.path() / "root-store";
  fs::create_directories(store);
  setenv("RUNTIME_DIRECTORY", store.c_str(), 1);
  struct Case {
    const char* category;
    const char* lock;
  } cases[] = {{"Status", "WebPostDB_BIN_Status"}, {kCategory, kInstanceLock}};
  for (const Case& c : cases) {
    platform::NamedMutex foreign = platform::NamedMutex::Create(c.lock);
    ASSERT_TRUE(foreign.IsValid());
    EXPECT_EQ(user.Run({exe, c.category}), 0);
    std::string log = RunLog(c.category);
    EXPECT_EQ(Count(log, "\t13\t0\tMSG: Unable to create mutex\t"), 1u) << log;
    EXPECT_EQ(Count(log, std::string("\t") + c.lock + "\t"), 1u) << log;
    EXPECT_EQ(Count(log, kStarted), 0u);
  }
  unsetenv("RUNTIME_DIRECTORY");
  EXPECT_EQ(user.Run({exe, kCategory}), 0);
  EXPECT_EQ(Count(RunLog(kCategory), kStarted), 1u) << RunLog(kCategory);
}

}  // namespace
}  // namespace vemtu::startup_test
