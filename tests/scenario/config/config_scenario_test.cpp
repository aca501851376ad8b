// Runs of the "Configuration" category that end in the configuration step or go past it,
// natively and, for the Windows build, under wine with the COM server registered.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/profile.h"
#include "support/agent_runner.h"
#include "support/component_setup.h"
#include "support/test_files.h"

namespace vemtu {
namespace {

namespace fs = std::filesystem;

constexpr char kNoRegistration[] = "ERR: Unable to get Registration ID, check KOLTMobile.ini";
constexpr char kNoComponent[] = "ERR: Unable to create instance of XML Encryption Component";

class ConfigScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    exe = test::InstallAgent(dir.path().string());
    fs::create_directories(dir.path() / "Configuration" / "WebPost");
    ASSERT_TRUE(test::PrepareCipherComponent(dir.path().string()));
  }

  void SetAgent(const char* section, const char* key, const std::string& value) {
    ASSERT_TRUE(platform::WriteProfileText(dir / "KOLTMobile.INI", section, key, value));
  }
  void SetRegistration() {
    SetAgent("MACHINE_INFO", "DCRegId", "REG-1");
    SetAgent("CONTROLLER_INFO", "MemberId", "M-2");
    SetAgent("CONTROLLER_INFO", "SiteId", "S-3");
    SetAgent("MACHINE_INFO", "AgentType", "Desktop");
  }

  void RunConfiguration() {
    test::RunResult result = test::RunAgent(exe, {"Configuration"});
    ASSERT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 0);
  }

  std::string Log() {
    return test::ReadFileBytes(dir.path() / "ApplicationLog" / "WebPost" / "WebPostExe" /
                               "WebPostConfiguration.log");
  }
  std::string Record(const char* key) {
    return platform::GetProfileText(dir / "Configuration/WebPost/VemtuConfiguration.INI",
                                    "WebPostCycles", key, "<missing>", 99);
  }
  std::string Counter() {
    return platform::GetProfileText(dir / "Configuration/WebPost/WebPostConfig.INI",
                                    "ConfigCycles", "KOLTMobileUpdateCycle", "<missing>", 99);
  }

  // Ended in the configuration step: the message, the record cleared, no counters.
  void ExpectEndedWith(const char* message) {
    EXPECT_NE(Log().find(message), std::string::npos) << Log();
    EXPECT_EQ(Record("ConfigurationPID"), "");
    EXPECT_EQ(Record("ConfigurationCycle"), "0");
    EXPECT_EQ(Counter(), "<missing>");
  }
  // Went past the configuration step to the counters of the "Configuration" run.
  void ExpectWentOn() {
    EXPECT_EQ(Log().find(kNoRegistration), std::string::npos) << Log();
    EXPECT_EQ(Log().find(kNoComponent), std::string::npos) << Log();
    EXPECT_EQ(Counter(), "1");
  }

  test::TempDir dir;
  std::string exe;
};

TEST_F(ConfigScenario, RegistrationIdWithoutAgentTypeEndsTheRun) {
  SetRegistration();
  SetAgent("MACHINE_INFO", "AgentType", "");
  RunConfiguration();
  ExpectEndedWith(kNoRegistration);
  EXPECT_EQ(Log().find(kNoComponent), std::string::npos);
}

TEST_F(ConfigScenario, UserNameWithoutComponentEndsTheRun) {
  SetRegistration();
  SetAgent("ProxySettings", "ProxyUserName", "enciphered user");
  test::HideCipherComponent(dir.path().string());
  RunConfiguration();
  ExpectEndedWith(kNoComponent);
}

TEST_F(ConfigScenario, PasswordWithoutUserNameIsNeverRead) {
  SetRegistration();
  SetAgent("ProxySettings", "ProxyPassword", "enciphered password");
  test::HideCipherComponent(dir.path().string());
  RunConfiguration();
  ExpectWentOn();
}

TEST_F(ConfigScenario, UserNameDecipheringToEmptyLetsTheRunGoOn) {
  SetRegistration();
  const std::string empty_user = test::Encipher("");
  ASSERT_FALSE(empty_user.empty());
  SetAgent("ProxySettings", "ProxyUserName", empty_user);
  SetAgent("ProxySettings", "ProxyPassword", test::Encipher("pass"));
  RunConfiguration();
  ExpectWentOn();
}

TEST_F(ConfigScenario, GarbledUserNameLetsTheRunGoOn) {
  SetRegistration();
  const std::string text = test::Encipher("user");
  ASSERT_FALSE(text.empty());
  SetAgent("ProxySettings", "ProxyUserName", text.substr(0, text.size() / 2));
  RunConfiguration();
  ExpectWentOn();
}

TEST_F(ConfigScenario, CipherCommandRoundTripsAndFailsCleanly) {
  test::CommandOutput enciphered = test::RunCipherCommand({"encrypt"}, "user name\n");
  ASSERT_EQ(enciphered.exit_code, 0);
  test::CommandOutput clear = test::RunCipherCommand({"decrypt", enciphered.out});
  EXPECT_EQ(clear.exit_code, 0);
  EXPECT_EQ(clear.out, "user name");  // the line ending of standard input is dropped

  const std::string cut = enciphered.out.substr(0, enciphered.out.size() - 4);
  for (const std::string& bad : {cut, std::string("garbled"), std::string()}) {
    test::CommandOutput refused = test::RunCipherCommand({"decrypt", bad});
    EXPECT_EQ(refused.exit_code, 1) << bad;
    EXPECT_EQ(refused.out, "") << bad;
  }
  EXPECT_EQ(test::RunCipherCommand({}).exit_code, 2);
  EXPECT_EQ(test::RunCipherCommand({"scramble", "x"}).exit_code, 2);
  EXPECT_EQ(test::RunCipherCommand({"encrypt", "a", "b"}).exit_code, 2);
}

}  // namespace
}  // namespace vemtu
