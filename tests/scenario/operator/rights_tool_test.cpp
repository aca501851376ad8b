// vemtu-rights on the folders it is given: it makes the agent's tree and sets its rights,
// and refuses a link at the agent folder, above it, at a folder of the tree or at the
// key folder without making anything through it. (Owners: Wine reports every file as
// owned by its one user, so a foreign owner is checked on Windows only.)
#include <filesystem>

#include "check_scenario.h"

namespace vemtu::test {
namespace {

namespace fs = std::filesystem;

std::string WinePath(const fs::path& path) {
  std::string result = "Z:" + path.string();
  for (char& c : result)
    if (c == '/') c = '\\';
  return result;
}

TEST(RightsTool, MakesTheTreeAndRefusesEveryLinkWithoutWritingThroughIt) {
  if (!UnderWine()) GTEST_SKIP() << "the rights tool is the Windows installer's";
  const std::string tool = BuiltTool("vemtu-rights");
  struct Case {
    const char* agent;  // the agent folder given, below the case's folder
    const char* link;   // made a link to the victim folder first ("" for none)
    const char* key;    // the key folder given
    int exit_code;
  };
  const Case cases[] = {
      {"agent", "", "key", 0},
      {"agent", "agent", "key", 1},
      {"above/agent", "above", "key", 1},
      {"agent", "agent/Status", "key", 1},
      {"agent", "key", "key", 1},
  };
  TempDir dir;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(c.agent) + " with link " + c.link);
    const fs::path root = dir / ("case" + std::to_string(i));
    const fs::path victim = root / "victim";
    fs::create_directories(victim);
    if (*c.link) {
      fs::create_directories((root / c.link).parent_path());
      fs::create_directory_symlink(victim, root / c.link);
    }
    CheckRun run = RunTool(tool, {"apply", WinePath(root / c.agent), "*S-1-5-32-545",
                                  WinePath(root / c.key)}, root);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.out;
    EXPECT_TRUE(fs::is_empty(victim));
    if (c.exit_code == 0) {
      for (const char* folder : {"AlertTkt/Error", "Status/Error", "ATPostLogs/Error",
                                 "Configuration", "ApplicationLog"})
        EXPECT_TRUE(fs::is_directory(root / c.agent / folder)) << folder;
      EXPECT_TRUE(fs::is_directory(root / c.key));
    }
  }
}

}  // namespace
}  // namespace vemtu::test
