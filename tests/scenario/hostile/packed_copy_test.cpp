// The packed copy is made, sent and removed in the category folder the run holds: a
// folder exchanged for a plain one mid-post receives nothing, and a file that takes the
// copy's name first is never written through.
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "agent_scenario.h"

namespace vemtu::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRunTimeoutMs = 60000;

class PackedCopy : public AgentScenario {
 protected:
  // Runs `word` ("" runs AlertTkt) with the files `names` of `category` (each holding its own name) while
  // the simulator holds back its replies, calls `meanwhile` once the first body has
  // arrived, and waits for the run's end.
  void RunHeldBack(const std::string& word, const std::string& category,
                   const std::vector<std::string>& names, const std::function<void()>& meanwhile) {
    StartDcsim({"--rule", "prefix=SLOW delay=1500"});
    WriteAgentIni(BaseUrl());
    for (const std::string& name : names) WriteFileBytes(File(category, name), "<r>" + name + "</r>");
    const int pid = StartAgent(exe_, word.empty() ? std::vector<std::string>{}
                                                   : std::vector<std::string>{word});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReceivedRequests().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(ReceivedRequests().empty());
    meanwhile();
    ASSERT_FALSE(WaitAgent(pid, kRunTimeoutMs).timed_out);
  }
};

TEST_F(PackedCopy, AHeldFolderSwappedMidPostKeepsTheCopyInTheHeldFolder) {
  if (UnderWine()) GTEST_SKIP() << "wine's share modes do not hold a folder against a Linux rename";
  const std::string away = agent_ + "/Status.away";
  RunHeldBack("Status", "Status", {"SLOW_1.txt"}, [&] {
    fs::rename(Folder("Status"), away);
    fs::create_directory(Folder("Status"));
  });
  ASSERT_EQ(ReceivedRequests().size(), 1u);
  EXPECT_NE(ReceivedRequests()[0].unpacked.find("SLOW_1.txt"), std::string::npos);
  EXPECT_EQ(FilesIn(Folder("Status")), std::vector<std::string>{});
  EXPECT_EQ(FilesIn(away), std::vector<std::string>{});  // accepted: source and copy gone
}

TEST_F(PackedCopy, AFileHoldingTheCopysNameIsNeverWrittenThrough) {
  const std::vector<std::string> names = {"SLOW_Y_1.xml", "SLOW_Y_2.xml"};
  const std::string planted = "a writer's own file";
  std::string taken;  // the source whose copy's name the writer took
  RunHeldBack("", "AlertTkt", names, [&] {
    // The copy of the file in its post exists; the other one's name is taken now.
    for (const std::string& name : names) {
      const std::string zip = File("AlertTkt", name.substr(0, name.size() - 4) + ".zip");
      if (!FileExists(zip)) {
        WriteFileBytes(zip, planted);
        taken = name;
      }
    }
  });
  ASSERT_FALSE(taken.empty());
  // The writer's file keeps its bytes wherever the run leaves it (as a result file of its
  // own it may go to the Error folder), and the source was not packed over it.
  bool kept = false;
  for (const auto& entry : fs::recursive_directory_iterator(agent_)) {
    kept |= entry.is_regular_file() && ReadFileBytes(entry.path()) == planted;
  }
  EXPECT_TRUE(kept);
  EXPECT_NE(ReadFileBytes(TransferLog("SLOW"))
                .find("ERR: Unable to compress file\t\t" + AgentPath(File("AlertTkt", taken))),
            std::string::npos);
}

}  // namespace
}  // namespace vemtu::test
