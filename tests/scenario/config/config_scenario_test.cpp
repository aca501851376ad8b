// Runs of the "Configuration" category that end in the configuration step or go past it,
// natively and, for the Windows build, under wine with the COM server registered.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cipher_text.h"
#include "platform/profile.h"
#include "support/agent_runner.h"
#include "support/test_files.h"

namespace vemtu {
namespace {

namespace fs = std::filesystem;

constexpr char kNoRegistration[] = "ERR: Unable to get Registration ID, check KOLTMobile.ini";
constexpr char kNoComponent[] = "ERR: Unable to create instance of XML Encryption Component";

void SetEnv(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

// The path as the Windows agent sees it under wine.
std::string WinePath(const std::string& path) {
  std::string result = "Z:" + path;
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct Captured {
  std::string out;  // standard output without the final line ending
  int exit_code = -1;
};

// Runs a command, with `input` on its standard input when given.
Captured RunCommand(const std::vector<std::string>& argv, const char* input = nullptr) {
  std::string command = input ? "printf '%s' " + Quote(input) + " | " : std::string();
  for (const std::string& arg : argv) command += Quote(arg) + " ";
  command += input ? "" : "</dev/null";
  Captured result;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return result;
  char buffer[512];
  while (std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  while (!result.out.empty() && (result.out.back() == '\n' || result.out.back() == '\r')) {
    result.out.pop_back();
  }
  return result;
}

std::string Capture(const std::vector<std::string>& argv) { return RunCommand(argv).out; }

class ConfigScenario : public ::testing::Test {
 protected:
  void SetUp() override {
    exe = test::InstallAgent(dir.path().string());
    fs::create_directories(dir.path() / "Configuration" / "WebPost");
    const std::string key_file = dir / "cipher.key";
    if (test::UnderWine()) {
      windows_bin = test::EnvOr("VEMTU_WINDOWS_BIN", "");
      wine_run = test::EnvOr("VEMTU_AGENT_WRAPPER", "");
      SetEnv("VEMTU_CIPHER_KEY", WinePath(key_file));
      unsetenv("WINEDLLOVERRIDES");
      // Registering again is harmless; each test makes sure the server is there.
      ASSERT_EQ(test::RunProgram({wine_run, "regsvr32", "/s", WinePath(windows_bin + "/xmlcipher.dll")}), 0);
    } else {
      SetEnv("VEMTU_CIPHER_KEY", key_file);
      SetEnv("VEMTU_COMPONENT_REGISTRY", dir / "components.ini");
      test::WriteFileBytes(dir / "components.ini", "[XMLCipher.clsCipher]\nLibrary=xmlcipher.so\n");
    }
  }

  // The component cannot be created: no registry entry natively; under wine the server
  // DLL is disabled for the agent's process only, leaving the registration to others.
  void HideComponent() {
    if (test::UnderWine()) {
      SetEnv("WINEDLLOVERRIDES", "xmlcipher=");
    } else {
      test::WriteFileBytes(dir / "components.ini", "; nothing registered\n");
    }
  }

  std::string Encipher(const std::string& clear) {
    if (test::UnderWine()) {
      return Capture({wine_run, windows_bin + "/vemtu-cipher.exe", "encrypt", clear});
    }
    std::string text;
    EXPECT_EQ(cipher::EncryptWithStoredKey(clear, text), cipher::CipherStatus::kOk);
    return text;
  }

  // The command, as the platform under test runs it.
  std::vector<std::string> CipherCommand(std::vector<std::string> args) {
    std::vector<std::string> argv;
    if (test::UnderWine()) {
      argv = {wine_run, windows_bin + "/vemtu-cipher.exe"};
    } else {
      argv = {test::EnvOr("VEMTU_BIN", ".") + "/vemtu-cipher"};
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
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
  std::string windows_bin;
  std::string wine_run;
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
  HideComponent();
  RunConfiguration();
  ExpectEndedWith(kNoComponent);
}

TEST_F(ConfigScenario, PasswordWithoutUserNameIsNeverRead) {
  SetRegistration();
  SetAgent("ProxySettings", "ProxyPassword", "enciphered password");
  HideComponent();
  RunConfiguration();
  ExpectWentOn();
}

TEST_F(ConfigScenario, UserNameDecipheringToEmptyLetsTheRunGoOn) {
  SetRegistration();
  const std::string empty_user = Encipher("");
  ASSERT_FALSE(empty_user.empty());
  SetAgent("ProxySettings", "ProxyUserName", empty_user);
  SetAgent("ProxySettings", "ProxyPassword", Encipher("pass"));
  RunConfiguration();
  ExpectWentOn();
}

TEST_F(ConfigScenario, GarbledUserNameLetsTheRunGoOn) {
  SetRegistration();
  const std::string text = Encipher("user");
  SetAgent("ProxySettings", "ProxyUserName", text.substr(0, text.size() / 2));
  RunConfiguration();
  ExpectWentOn();
}

TEST_F(ConfigScenario, CipherCommandRoundTripsAndFailsCleanly) {
  Captured enciphered = RunCommand(CipherCommand({"encrypt"}), "user name\n");
  ASSERT_EQ(enciphered.exit_code, 0);
  Captured clear = RunCommand(CipherCommand({"decrypt", enciphered.out}));
  EXPECT_EQ(clear.exit_code, 0);
  EXPECT_EQ(clear.out, "user name");  // the line ending of standard input is dropped

  const std::string cut = enciphered.out.substr(0, enciphered.out.size() - 4);
  for (const std::string& bad : {cut, std::string("garbled"), std::string()}) {
    Captured refused = RunCommand(CipherCommand({"decrypt", bad}));
    EXPECT_EQ(refused.exit_code, 1) << bad;
    EXPECT_EQ(refused.out, "") << bad;
  }
  EXPECT_EQ(RunCommand(CipherCommand({})).exit_code, 2);
  EXPECT_EQ(RunCommand(CipherCommand({"scramble", "x"})).exit_code, 2);
  EXPECT_EQ(RunCommand(CipherCommand({"encrypt", "a", "b"})).exit_code, 2);
}

}  // namespace
}  // namespace vemtu
