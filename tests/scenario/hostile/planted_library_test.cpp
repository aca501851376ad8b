// A library planted in the agent folder under a system library's name is never loaded:
// the agent takes its libraries from the system folder, and still posts.
#include <filesystem>

#include "agent_scenario.h"

namespace vemtu::test {
namespace {

namespace fs = std::filesystem;

using PlantedLibrary = AgentScenario;

TEST_F(PlantedLibrary, AWinHttpDllInTheAgentFolderIsNeverLoaded) {
  if (!UnderWine()) GTEST_SKIP() << "Windows' library search; the Linux build has none";
  const std::string planted = agent_ + "/planted_winhttp.dll";
  ASSERT_TRUE(FileExists(planted)) << "the planted library was not built";
  for (const char* name : {"WinHttp.dll", "WinHttp5.dll"}) {
    fs::copy_file(planted, agent_ + "/" + name, fs::copy_options::overwrite_existing);
  }
  StartDcsim();
  WriteAgentIni(BaseUrl());
  WriteFileBytes(File("ATPostLogs", "PL_N_1.txt"), "posted through the system's library");
  ASSERT_FALSE(Run("ATPostLogs").timed_out);
  for (const auto& name : FilesIn(agent_)) {
    EXPECT_EQ(name.find(".loaded"), std::string::npos) << name << " was loaded";
  }
  EXPECT_FALSE(FileExists(File("ATPostLogs", "PL_N_1.txt")));
  // Posted by the first method: WinHTTP itself was bound from the system folder.
  EXPECT_NE(ReadFileBytes(TransferLog("PL")).find("SendWinHTTPPOST"), std::string::npos);
}

}  // namespace
}  // namespace vemtu::test
