// The agent folder as its package lays it out: natively `cmake --install` of this build,
// under wine the MSI installed silently in a wine prefix of its own. A run against the
// simulator from the installed folder (proxy credentials deciphered through the
// registration the package made), and for the MSI a silent removal that takes the
// programs and the registration but leaves result files, logs and INI files.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "check_scenario.h"

namespace vemtu::test {
namespace {

namespace fs = std::filesystem;

std::string WinePath(const std::string& path) {
  std::string result = "Z:" + path;
  for (char& c : result)
    if (c == '/') c = '\\';
  return result;
}

// The sequence number of each action of the package's install script, read with msitools.
std::map<std::string, int> ExecuteSequence(const std::string& msi) {
  std::map<std::string, int> sequence;
  CommandOutput table = CaptureCommand("msiinfo export " + ShellQuote(msi) + " InstallExecuteSequence");
  std::istringstream lines(table.out);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t first = line.find('\t'), last = line.rfind('\t');
    if (first == std::string::npos || first == last) continue;
    sequence[line.substr(0, first)] = std::atoi(line.c_str() + last + 1);
  }
  return sequence;
}

class InstalledFolder : public AgentScenario {
 protected:
  void SetUp() override {
    AgentScenario::SetUp();
    fs::remove_all(agent_);  // the package lays the folder out, not the test
    unsetenv("VEMTU_COMPONENT_REGISTRY");
    unsetenv("VEMTU_CIPHER_KEY");
  }
  void TearDown() override {
    AgentScenario::TearDown();
    if (!prefix_.empty())
      RunProgram({"/bin/bash", "-c", "wineserver -k </dev/null >/dev/null 2>&1"});
  }

  // A wine prefix of its own: the package's registration must not meet the one other
  // tests make in the shared prefix.
  void UseOwnWinePrefix() {
    prefix_ = EnvOr("VEMTU_WINDOWS_BIN", "") + "/../wineprefix-package";
    setenv("WINEPREFIX", prefix_.c_str(), 1);
    // Its server must live in this test's network namespace: wine opens sockets there.
    std::string scripts = EnvOr("VEMTU_SOURCE", ".") + "/scripts/";
    RunProgram({"/bin/bash", scripts + "wine-down.sh"});
    ASSERT_EQ(RunProgram({"/bin/bash", scripts + "wine-up.sh"}, 300000), 0);
  }

  std::string prefix_;
};

TEST_F(InstalledFolder, InstallsSilentlyRunsFromThereAndIsRemovedWithoutItsData) {
  const std::string cipher = UnderWine() ? agent_ + "/vemtu-cipher.exe" : agent_ + "/vemtu-cipher";
  std::string msi;
  if (UnderWine()) {
    for (const auto& entry : fs::directory_iterator(EnvOr("VEMTU_WINDOWS_BIN", "") + "/.."))
      if (entry.path().extension() == ".msi") msi = entry.path().string();
    if (msi.empty()) {
      if (std::getenv("CI")) FAIL() << "no MSI was built (wixl missing?)";
      GTEST_SKIP() << "no MSI in the Windows build: install wixl and build the msi target";
    }
    // The rights action runs inside the install script, before any folder is made.
    if (RunProgram({"/bin/sh", "-c", "command -v msiinfo >/dev/null"}) == 0) {
      std::map<std::string, int> step = ExecuteSequence(msi);
      EXPECT_GT(step["SetFolderRights"], step["InstallInitialize"]);
      EXPECT_LT(step["SetFolderRights"], step["CreateFolders"]);
      EXPECT_LT(step["SetFolderRightsData"], step["SetFolderRights"]);
      EXPECT_GT(step["InstallInitialize"], 0);
      CommandOutput properties = CaptureCommand("msiinfo export " + ShellQuote(msi) + " Property");
      EXPECT_NE(properties.out.find("SecureCustomProperties\tWIX_DOWNGRADE_DETECTED;"
                                    "WIX_UPGRADE_DETECTED;INSTALLDIR;WRITERSGROUP"),
                std::string::npos)
          << properties.out;
    } else if (std::getenv("CI")) {
      ADD_FAILURE() << "msiinfo (msitools) is missing: the package's sequence is unchecked";
    }
    ASSERT_NO_FATAL_FAILURE(UseOwnWinePrefix());
    ASSERT_EQ(RunProgram({EnvOr("VEMTU_AGENT_WRAPPER", ""), "msiexec", "/i", WinePath(msi), "/qn",
                          "INSTALLDIR=" + WinePath(agent_)},
                         300000),
              0);
  } else {
    std::string build = EnvOr("VEMTU_BIN", ".") + "/..";
    ASSERT_EQ(RunProgram({VEMTU_CMAKE_COMMAND, "--install", build, "--prefix", agent_,
                          "--component", "agent"},
                         300000),
              0);
    for (const char* file : {"components.ini", "KOLTMobile.INI.example", "LICENSE",
                             "systemd/vemtu.service", "systemd/vemtu.timer"})
      EXPECT_TRUE(FileExists(agent_ + "/" + file)) << file;
    // Only $ORIGIN in every program's run path: the folder works without the build tree.
    for (const char* program : {"Vemtu.EXE", "vemtu-check", "vemtu-cipher", "libWinInet.so"}) {
      CheckRun elf = RunTool("/usr/bin/readelf", {"-d", agent_ + "/" + program}, agent_);
      EXPECT_NE(elf.out.find("[$ORIGIN]"), std::string::npos) << program << "\n" << elf.out;
      EXPECT_EQ(elf.out.find(build), std::string::npos) << program;
    }
  }
  if (UnderWine()) {
    // Stripped, with the project's version in its version resource (UTF-16 texts).
    std::string exe = ReadFileBytes(agent_ + "/Vemtu.EXE");
    EXPECT_LT(exe.size(), 2u << 20);
    auto wide = [](const std::string& text) {
      std::string out;
      for (char c : text) out += std::string(1, c) + '\0';
      return out;
    };
    std::size_t version = exe.find(wide("ProductVersion"));
    ASSERT_NE(version, std::string::npos);
    EXPECT_NE(exe.find(wide(VEMTU_VERSION), version), std::string::npos);
    EXPECT_NE(exe.find(wide("Vemtu posting agent")), std::string::npos);
  }
  for (const char* folder : {"AlertTkt/Error", "Status/Error", "ATPostLogs/Error",
                             "Configuration/WebPost", "ApplicationLog/WebPost/WebPostExe"})
    EXPECT_TRUE(fs::is_directory(agent_ + "/" + folder)) << folder;
  if (UnderWine()) {
    // The rights action ran and succeeded: it keeps the writers' group for upgrades.
    CommandOutput kept = CaptureCommand(ShellQuote(EnvOr("VEMTU_AGENT_WRAPPER", "")) +
                                        " reg query 'HKLM\\Software\\Vemtu' /v WritersGroup");
    EXPECT_NE(kept.out.find("*S-1-5-32-545"), std::string::npos) << kept.out;
    // The rights the installer set, read back where wine keeps them (it turns a file's
    // access list into its Unix mode, and reads back one made from the mode).
    const std::string admin = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    const std::string users = "(A;OICI;0x1200a9;;;BU)";
    for (const auto& [folder, dacl] : std::vector<std::pair<std::string, std::string>>{
             {"", admin + users},
             {"\\Status", admin + "(A;;0x100002;;;BU)(A;OIIONP;0x1301bf;;;CO)"},
             {"\\Status\\Error", admin}}) {
      CheckRun shown = RunTool(agent_ + "/vemtu-rights.exe", {"show", WinePath(agent_) + folder}, agent_);
      ASSERT_EQ(shown.exit_code, 0) << folder << ": " << shown.out;
      std::string read = shown.out.substr(shown.out.find("D:"));
      read = read.substr(0, read.find('\n'));
      if (read.rfind("D:P", 0) == 0) {
        EXPECT_EQ(read, dacl) << folder;
      }
    }
  }
  // Credentials enciphered by the installed tool are deciphered by the installed agent.
  CheckRun user = RunTool(cipher, {"encrypt", "pu"}, agent_);
  ASSERT_EQ(user.exit_code, 0) << user.out;
  if (!UnderWine()) {
    EXPECT_TRUE(FileExists(agent_ + "/cipher.key"));  // the folder's own key
  }
  std::string enciphered = user.out.substr(0, user.out.find('\n'));
  StartDcsim({"--proxy-user", "pu", "--proxy-password", ""});
  WriteAgentIni(BaseUrl(), "", "127.0.0.1", std::to_string(sim_.proxy_port), enciphered, "");
  WriteFileBytes(File("ATPostLogs", "PK_N_1.txt"), "from the installed folder");
  exe_ = agent_ + "/Vemtu.EXE";
  ASSERT_FALSE(Run("ATPostLogs").timed_out);
  EXPECT_EQ(ReadFileBytes(RunLog("ATPostLogs")).find("Unable to create instance"),
            std::string::npos);
  EXPECT_FALSE(FileExists(File("ATPostLogs", "PK_N_1.txt")));
  EXPECT_EQ(ReceivedRequests().size(), 1u);
  if (!UnderWine()) return;

  WriteFileBytes(File("AlertTkt", "KEPT_N_1.txt"), "a result file");
  ASSERT_EQ(
      RunProgram({EnvOr("VEMTU_AGENT_WRAPPER", ""), "msiexec", "/x", WinePath(msi), "/qn"}, 300000),
      0);
  for (const char* program : {"Vemtu.EXE", "vemtu-check.exe", "vemtu-cipher.exe", "xmlcipher.dll"})
    EXPECT_FALSE(FileExists(agent_ + "/" + program)) << program;
  EXPECT_TRUE(FileExists(File("AlertTkt", "KEPT_N_1.txt")));
  EXPECT_TRUE(FileExists(RunLog("ATPostLogs")));
  EXPECT_TRUE(FileExists(agent_ + "/KOLTMobile.INI"));
  EXPECT_NE(RunProgram({EnvOr("VEMTU_AGENT_WRAPPER", ""), "reg", "query",
                        "HKCR\\CLSID\\{16B1AF0D-6A5A-4D62-92E2-6B3A0643275D}"}),
            0);
}

// The shipped service and timer, pointed at an agent folder of the test's own, pass
// systemd's own checks: no warning from verify, and an exposure below 5 ("OK").
TEST(UnitFilesNativeOnly, PassVerifyAndRateBelowFive) {
  if (!FileExists("/usr/bin/systemd-analyze"))
    GTEST_SKIP() << "systemd-analyze is not installed (scripts/deps.sh installs systemd)";
  TempDir dir;
  const std::string agent = dir / "opt-vemtu";
  std::filesystem::create_directories(agent);
  WriteFileBytes(agent + "/Vemtu.EXE", "#!/bin/sh\n");
  std::filesystem::permissions(agent + "/Vemtu.EXE", std::filesystem::perms::owner_all);
  for (const char* unit : {"vemtu.service", "vemtu.timer"}) {
    std::string text = ReadFileBytes(EnvOr("VEMTU_SOURCE", ".") + "/packaging/" + unit);
    for (std::size_t at; (at = text.find("/opt/vemtu")) != std::string::npos;)
      text.replace(at, 10, agent);
    WriteFileBytes(dir / unit, text);
  }
  CheckRun verify = RunTool("/usr/bin/systemd-analyze", {"verify", "./vemtu.service", "./vemtu.timer"},
                            dir.path().string());
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
  EXPECT_EQ(verify.out, "") << "verify warns";
  CheckRun security = RunTool("/usr/bin/systemd-analyze",
                              {"security", "--offline=true", "--threshold=49", "./vemtu.service"},
                              dir.path().string());
  EXPECT_EQ(security.exit_code, 0) << security.out;
  EXPECT_NE(security.out.find("Overall exposure level for vemtu.service: "), std::string::npos)
      << security.out;
}

}  // namespace
}  // namespace vemtu::test
