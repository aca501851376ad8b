// vemtu-check config on sample agent folders: every planted problem is named with its
// fix, and a ready folder passes.
#include <filesystem>

#include "check_scenario.h"
#include "support/component_setup.h"

namespace vemtu::test {
namespace {

namespace fs = std::filesystem;

using CheckConfig = CheckScenario;

TEST_F(CheckConfig, AReadyFolderPasses) {
  WriteAgentIni("http://127.0.0.9:9/dc");
  WriteConfigFile("Reprioritize.XML", "<rules><pr nm='URGENT'/><ig nm='KEEP'/></rules>");
  WriteConfigFile("WebPostDB_Status.bin", std::string(2 * 788, '\0'));
  for (const char* category : {"AlertTkt", "Status", "ATPostLogs"})
    fs::create_directories(Folder(category) + "/Error");
  CheckRun run = RunCheck({"config"});
  EXPECT_EQ(run.exit_code, 0) << run.out;
  EXPECT_NE(LineWith(run.out, "ready: "), "") << run.out;
}

TEST_F(CheckConfig, NamesEveryPlantedProblemWithItsFix) {
  WriteFileBytes(agent_ + "/KOLTMobile.INI",
                 "[MACHINE_INFO]\r\nDCRegId=R1\r\nAgentType=TVQA ; test agent\r\n"
                 "[CONTROLLER_INFO]\r\nMemberId=M1\r\n"
                 "[DCConnURL]\r\nControllerPSite=127.0.0.1/dc\r\n"
                 "ControllerSSite=http://127.0.0.1:99999/dc\r\n"
                 "[ProxySettings]\r\nProxyIP=127.0.0.1\r\nProxyPort=9\r\n");
  WriteConfigFile("Reprioritize.XML", "<rules><pr nm=\"URGENT\"/></rules>");
  WriteConfigFile("DNSSpecific.XML", "<wp name=\"urgent\" url=\"http://127.0.0.9/u\"/>");
  WriteConfigFile("WebPostDB_AlertTkt.bin", std::string(1000, '\0'));
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", Folder("Status"));
  fs::create_directories(agent_ + "/ApplicationLog/WebPost/WebPostExe");
  WriteFileBytes(RunLog("AlertTkt"), std::string(2000000, 'x'));

  CheckRun run = RunCheck({"config"});
  EXPECT_EQ(run.exit_code, 1) << run.out;
  const char* expected[] = {
      "[CONTROLLER_INFO] SiteId is missing or empty",
      "AgentType holds a comment: \"TVQA ; test agent\"",
      "ControllerPSite \"127.0.0.1/dc\" does not split",
      "ControllerSSite \"http://127.0.0.1:99999/dc\" does not split",
      "Reprioritize.XML holds rules but yields none",
      "DNSSpecific.XML holds rules but yields none",
      "WebPostDB_AlertTkt.bin is 1000 bytes, not a whole number of 788-byte records",
      "Status is a link",
      "WebPostAlertTkt.log is 2000000 bytes",
      "ATPostLogs is missing",
      "the configured proxy 127.0.0.1:9 does not answer",
  };
  for (const char* text : expected) {
    std::string line = LineWith(run.out, text);
    EXPECT_NE(line, "") << text << "\n" << run.out;
    EXPECT_NE(line.find(" -- fix: "), std::string::npos) << line;
  }
  EXPECT_EQ(LineWith(run.out, "ready"), "");
  // Nothing is repaired or created by the check.
  EXPECT_FALSE(fs::exists(Folder("AlertTkt")));
  EXPECT_EQ(fs::file_size(agent_ + "/Configuration/WebPost/WebPostDB_AlertTkt.bin"), 1000u);
}

TEST_F(CheckConfig, AnAgentIniInUtf16WithItsMarkIsRead) {
  std::string ini = "\xFF\xFE";
  for (char c : std::string("[MACHINE_INFO]\r\nDCRegId=R1\r\nAgentType=T\r\n[CONTROLLER_INFO]\r\n"
                            "MemberId=M\r\nSiteId=S\r\n[DCConnURL]\r\nControllerPSite=http://127.0.0.9:9/\r\n"))
    ini += std::string(1, c) + '\0';
  WriteFileBytes(agent_ + "/KOLTMobile.INI", ini);
  CheckRun run = RunCheck({"config"});
  // Both builds read a Unicode INI that starts with its byte-order mark: nothing to name.
  EXPECT_EQ(LineWith(run.out, "saved as UTF-16 (little-endian)"), "") << run.out;
  EXPECT_EQ(LineWith(run.out, "DCRegId is missing"), "") << run.out;
}

TEST_F(CheckConfig, ProxyCredentialsThatCannotBeDecipheredAreNamed) {
  ASSERT_TRUE(PrepareCipherComponent(dir_.path().string()));
  std::string user = Encipher("proxy user");
  ASSERT_FALSE(user.empty());
  // A well-formed text made with some other key.
  std::string foreign = "q83vEjRWeJq83vEjAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
  WriteAgentIni("http://127.0.0.9:9/dc", "", "127.0.0.1", "8080", user, foreign);
  CheckRun run = RunCheck({"config"});
  EXPECT_EQ(run.exit_code, 1) << run.out;
  EXPECT_NE(LineWith(run.out, "ProxyPassword cannot be deciphered"), "") << run.out;
  EXPECT_EQ(LineWith(run.out, "ProxyUserName cannot be deciphered"), "") << run.out;

  HideCipherComponent(dir_.path().string());
  run = RunCheck({"config"});
  EXPECT_EQ(run.exit_code, 1) << run.out;
  EXPECT_NE(LineWith(run.out, "XMLCipher.clsCipher cannot be created"), "") << run.out;
}

}  // namespace
}  // namespace vemtu::test
