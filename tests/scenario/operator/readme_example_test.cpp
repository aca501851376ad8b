// The agent INI example of README.md (shipped as KOLTMobile.INI.example), copied as an
// operator would copy it (only the site URL pointed at the simulator), makes a run post
// with exactly the values it shows.
#include <filesystem>
#include <sstream>

#include "check_scenario.h"
#include "platform/profile.h"

namespace vemtu::test {
namespace {

// The first ```ini block of README.md.
std::string ReadmeIniExample() {
  std::string readme = ReadFileBytes(EnvOr("VEMTU_SOURCE", ".") + "/README.md");
  std::size_t start = readme.find("```ini\n");
  if (start == std::string::npos) return {};
  start += 7;
  std::size_t end = readme.find("```", start);
  return end == std::string::npos ? std::string() : readme.substr(start, end - start);
}

// `text` with the value of its "key=" line replaced.
std::string WithValue(const std::string& text, const std::string& key, const std::string& value) {
  std::size_t at = text.find("\n" + key + "=");
  if (at == std::string::npos) return text;
  at += key.size() + 2;
  return text.substr(0, at) + value + text.substr(text.find('\n', at));
}

using ReadmeExample = CheckScenario;

TEST_F(ReadmeExample, TheIniExampleWorksWhenCopied) {
  std::string example = ReadmeIniExample();
  ASSERT_NE(example, "") << "README.md has no ```ini block";
  EXPECT_EQ(ReadFileBytes(EnvOr("VEMTU_SOURCE", ".") + "/packaging/KOLTMobile.INI.example"), example)
      << "the shipped example is not the README's";
  StartDcsim();
  WriteFileBytes(agent_ + "/KOLTMobile.INI", WithValue(example, "ControllerPSite", BaseUrl()));
  for (const char* category : {"AlertTkt", "Status", "ATPostLogs"})  // as installed
    std::filesystem::create_directories(Folder(category) + "/Error");

  CheckRun check = RunCheck({"config"});
  EXPECT_EQ(check.exit_code, 0) << check.out;

  WriteFileBytes(File("ATPostLogs", "RD_N_1.txt"), "from the README example");
  ASSERT_FALSE(Run("ATPostLogs").timed_out);
  EXPECT_FALSE(FileExists(File("ATPostLogs", "RD_N_1.txt")));
  auto value = [&](const char* section, const char* key) {
    return platform::GetProfileText(agent_ + "/KOLTMobile.INI", section, key, "", 300);
  };
  auto received = ReceivedRequests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].line.target, "/dc/tfr_RD.asp?mmid=" + value("CONTROLLER_INFO", "MemberId") +
                                         "&sid=" + value("CONTROLLER_INFO", "SiteId") +
                                         "&rid=" + value("MACHINE_INFO", "DCRegId") +
                                         "&rty=" + value("MACHINE_INFO", "AgentType"));
  EXPECT_EQ(received[0].line.target.find_first_of("; "), std::string::npos)
      << received[0].line.target;
}

// The agent folder is not on PATH: every command line shown runs a program of the folder
// as "./name", and each such program is one the package installs.
TEST(ReadmeExampleNativeOnly, ToolExamplesRunFromTheAgentFolder) {
  std::istringstream readme(ReadFileBytes(EnvOr("VEMTU_SOURCE", ".") + "/README.md"));
  std::string line;
  int examples = 0;
  while (std::getline(readme, line)) {
    if (line.rfind("    ", 0) != 0) continue;
    std::string command = line.substr(line.find_first_not_of(' '));
    EXPECT_NE(command.rfind("vemtu-", 0), 0u) << "not on PATH: " << line;
    if (command.rfind("./", 0) != 0) continue;
    ++examples;
    std::string program = command.substr(2, command.find(' ') - 2);
    EXPECT_TRUE(FileExists(EnvOr("VEMTU_BIN", ".") + "/" + program)) << line;
  }
  EXPECT_GE(examples, 10);
}

}  // namespace
}  // namespace vemtu::test
