// Names with two-byte characters whose second byte is "\" or "_" in code page 932 (under
// wine, with a Japanese locale of the test's own) or plain UTF-8 names (natively): each is
// split by character, so its prefix, retry name and transfer log are whole.
#include <cstdlib>
#include <map>

#include "agent_scenario.h"

namespace vemtu::test {
namespace {

namespace fs = std::filesystem;

// ソ (932: 83 5C) and ダウンロード (932: 83 5F 83 45 83 93 83 8D 81 5B 83 68), spelled in
// UTF-8 on the Linux side.
const std::string kSo = "\xE3\x82\xBD";
const std::string kDownload =
    "\xE3\x83\x80\xE3\x82\xA6\xE3\x83\xB3\xE3\x83\xAD\xE3\x83\xBC\xE3\x83\x89";

class DoubleByteNames : public AgentScenario {
 protected:
  void SetUp() override {
    AgentScenario::SetUp();
    if (!UnderWine()) return;
    // Wine reads Linux names through the locale and takes its ANSI code page from it.
    const std::string locales = dir_ / "locale";
    fs::create_directories(locales);
    if (RunProgram({"/usr/bin/localedef", "-i", "ja_JP", "-f", "UTF-8",
                    locales + "/ja_JP.UTF-8"}) != 0 &&
        !fs::exists(locales + "/ja_JP.UTF-8/LC_CTYPE")) {
      GTEST_SKIP() << "localedef cannot build ja_JP.UTF-8 here";
    }
    setenv("LOCPATH", locales.c_str(), 1);
    setenv("VEMTU_WINE_LANG", "ja_JP.UTF-8", 1);
  }
  void TearDown() override {
    unsetenv("LOCPATH");
    unsetenv("VEMTU_WINE_LANG");
    AgentScenario::TearDown();
  }
};

TEST_F(DoubleByteNames, AreSplitByCharacter) {
  // The first AT post is accepted, the later one refused.
  StartDcsim({"--rule", "prefix=AT reply=1 times=1", "--rule", "prefix=AT reply=0"});
  WriteAgentIni(BaseUrl());
  const std::string k = "ATPostLogs";
  WriteFileBytes(File(k, "AT_N_" + kSo + ".txt"), "so");
  WriteFileBytes(File(k, kDownload + "_N_1.txt"), "download");
  WriteFileBytes(File(k, "AT_N_1.a" + kSo), "refused");
  ASSERT_FALSE(Run(k).timed_out);

  std::map<std::string, Received> by_body;
  for (const auto& r : ReceivedRequests()) by_body[r.body] = r;
  ASSERT_EQ(by_body.count("so"), 1u);
  EXPECT_EQ(by_body["so"].line.target.rfind("/dc/tfr_AT.asp?", 0), 0u) << by_body["so"].line.target;
  ASSERT_EQ(by_body.count("download"), 1u);
  // The whole prefix, each byte of a character past ASCII escaped once, in the agent's
  // code page.
  const std::string page = UnderWine() ? "%83%5F%83%45%83%93%83%8D%81%5B%83%68"
                                       : "%E3%83%80%E3%82%A6%E3%83%B3%E3%83%AD%E3%83%BC%E3%83%89";
  EXPECT_EQ(by_body["download"].line.target.rfind("/dc/tfr_" + page + ".asp?", 0), 0u)
      << by_body["download"].line.target;
  EXPECT_TRUE(FileExists(TransferLog(kDownload)));
  EXPECT_TRUE(FileExists(TransferLog("AT")));
  EXPECT_FALSE(FileExists(File(k, "AT_N_" + kSo + ".txt")));
  EXPECT_FALSE(FileExists(File(k, kDownload + "_N_1.txt")));

  // The refused file moves on to its retry name (in 932 its extension is three bytes).
  ASSERT_EQ(by_body.count("refused"), 1u);
  EXPECT_FALSE(FileExists(File(k, "AT_N_1.a" + kSo)));
  if (UnderWine()) EXPECT_TRUE(FileExists(File(k, "AT_N_1.a" + kSo + "1")));
  EXPECT_TRUE(FilesIn(Folder(k) + "/Error").empty());
}

}  // namespace
}  // namespace vemtu::test
