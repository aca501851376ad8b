// Runs killed at random moments lose no file: each one is either acknowledged by the data
// centre or still in the agent's folders, and a following run completes the rest.
#include <signal.h>

#include <chrono>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "agent_scenario.h"

namespace vemtu::test {
namespace {

constexpr int kFilesPerRound = 300;
constexpr int kRounds = 50;
// A wine process starts and posts slower: fewer files and rounds, later moments.
constexpr int kWineFilesPerRound = 40;
constexpr int kWineRounds = 8;

class KilledRun : public AgentScenario {
 protected:
  // Tops the folder up to 300 waiting files (40 under wine), each with a number of its
  // own; odd numbers are packed.
  void TopUp() {
    const int files = UnderWine() ? kWineFilesPerRound : kFilesPerRound;
    int waiting = 0;
    for (const auto& name : FilesIn(Folder(kCategory)))
      if (name[0] == 'K') ++waiting;
    for (; waiting < files; ++waiting, ++next_) {
      std::string marker = "file-" + std::to_string(next_) + "-end";
      if (next_ % 2) {
        WriteFileBytes(File(kCategory, "K" + std::to_string(next_) + "_Y_1.xml"),
                       "<k><v>" + marker + "</v></k>");
      } else {
        WriteFileBytes(File(kCategory, "K" + std::to_string(next_) + "_N_1.txt"), marker);
      }
    }
  }

  std::set<int> Acknowledged() const {
    static const std::regex marker("file-(\\d+)-end");
    std::set<int> numbers;
    for (const auto& r : ReceivedRequests()) {
      if (r.line.status != "200" || r.line.reply != "1") continue;
      const std::string& text = r.line.packed ? r.unpacked : r.body;
      std::smatch m;
      if (std::regex_search(text, m, marker)) numbers.insert(std::stoi(m[1]));
    }
    return numbers;
  }

  // Originals, retry names and files set aside; packed copies do not count.
  std::set<int> StillPresent() const {
    static const std::regex original("K(\\d+)_[NY]_1\\.(txt|xml)\\d?");
    std::set<int> numbers;
    for (const auto& folder : {Folder(kCategory), Folder(kCategory) + "/Error"}) {
      for (const auto& name : FilesIn(folder)) {
        std::smatch m;
        if (std::regex_match(name, m, original)) numbers.insert(std::stoi(m[1]));
      }
    }
    return numbers;
  }

  static constexpr const char* kCategory = "ATPostLogs";
  int next_ = 0;
};

TEST_F(KilledRun, EveryFileIsAcknowledgedOrStillPresent) {
  // A wine process killed by SIGKILL leaves its mutexes abandoned, as a killed Windows
  // process does, so the Windows build is killed the same way.
  StartDcsim();
  WriteAgentIni(BaseUrl());
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> moment_ms(0, UnderWine() ? 1500 : 400);
  const int rounds = UnderWine() ? kWineRounds : kRounds;
  for (int round = 0; round < rounds; ++round) {
    TopUp();
    int pid = StartAgent(exe_, {kCategory});
    std::this_thread::sleep_for(std::chrono::milliseconds(moment_ms(random)));
    // Under wine only the run itself: its process group may hold wine's desktop process,
    // which every other wine process of the prefix needs.
    if (!UnderWine()) kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    ASSERT_FALSE(WaitAgent(pid, 10000).timed_out);
    std::set<int> acknowledged = Acknowledged(), present = StillPresent();
    for (int n = 0; n < next_; ++n) {
      ASSERT_TRUE(acknowledged.count(n) || present.count(n))
          << "file " << n << " lost in round " << round;
    }
  }
  // How much the killed runs got done, for the record.
  RecordProperty("files", next_);
  RecordProperty("acknowledged_by_killed_runs", static_cast<int>(Acknowledged().size()));
  ASSERT_FALSE(Run(kCategory, 300000).timed_out);
  std::set<int> acknowledged = Acknowledged();
  for (int n = 0; n < next_; ++n) EXPECT_TRUE(acknowledged.count(n)) << "file " << n;
  EXPECT_TRUE(StillPresent().empty());
  for (const auto& name : FilesIn(Folder(kCategory))) ADD_FAILURE() << "left behind: " << name;
}

}  // namespace
}  // namespace vemtu::test
