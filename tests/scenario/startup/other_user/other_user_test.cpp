// Runs of the agent under a user of its own beside locks that a root process made.
// Run alone: while such a run holds a lock, processes of other folders may not use it.
#include "platform/named_mutex.h"
#include "startup_scenario.h"

namespace vemtu::startup_test {
namespace {

using OtherUserScenario = StartupScenario;

TEST_F(OtherUserScenario, LocksMadeByARunOfAnotherUserServeTheFolderOwner) {
  TestUser user;
  if (!user.added()) GTEST_SKIP() << "needs root to add a user of its own";
  test::ScriptedServer server;
  server.SetDefault(test::Reply::Status(200, "1"));
  WriteAgentIni(server.BaseUrl());
  for (const char* folder : {"ATPostLogs/Error", "Configuration/WebPost",
                             "ApplicationLog/WebPost/WebPostExe"}) {
    fs::create_directories(dir.path() / folder);
  }
  WriteFileBytes(dir.path() / "ATPostLogs" / "A_1.txt", "posted by the service user");
  user.Own(dir.path());
  // A root process of this agent folder makes the lock the run needs, and keeps it.
  Sleeper root_run(dir.path(), "rootrun", "WebPostDB_BIN_Status", 0);
  ASSERT_NE(root_run.pid(), 0u);

  EXPECT_EQ(user.Run({exe, "ATPostLogs"}), 0);
  std::string log = RunLog("ATPostLogs");
  EXPECT_EQ(Count(log, kStarted), 1u) << log;
  EXPECT_EQ(Count(log, "MSG: Finished Web Posting"), 1u) << log;
  EXPECT_FALSE(FileExists(dir.path() / "ATPostLogs" / "A_1.txt"));
  EXPECT_EQ(server.RequestCount(), 1u);
}

TEST_F(OtherUserScenario, ALockThatCannotBeOpenedIsNamedInTheRunLog) {
  TestUser user;
  if (!user.added()) GTEST_SKIP() << "needs root to add a user of its own";
  fs::create_directories(dir.path() / "ApplicationLog" / "WebPost" / "WebPostExe");
  fs::create_directories(dir.path() / "Configuration" / "WebPost");
  user.Own(dir.path());
  // This test program's folder is root's, so the lock it makes is root's alone.
  platform::NamedMutex foreign = platform::NamedMutex::Create("WebPostDB_BIN_Status");
  ASSERT_TRUE(foreign.IsValid());

  EXPECT_EQ(user.Run({exe, "Status"}), 0);
  std::string log = RunLog("Status");
  EXPECT_EQ(Count(log, "\t13\t0\tMSG: Unable to create mutex\t"), 1u) << log;
  EXPECT_EQ(Count(log, "\tWebPostDB_BIN_Status\t"), 1u) << log;
  EXPECT_EQ(Count(log, kStarted), 0u);
}

}  // namespace
}  // namespace vemtu::startup_test
