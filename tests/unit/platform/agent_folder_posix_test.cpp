// The held agent folder: steps keep acting in the folder that was opened after it is
// renamed and a link takes its name, a folder is found whatever its letter case, and a
// file with a second name is never written.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/agent_folder.h"
#include "platform/errors.h"
#include "support/test_files.h"

namespace vemtu::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TEST(AgentFolder, StepsActInTheHeldFolderAfterALinkTakesItsName) {
  TempDir dir;
  const std::string root = dir / "agent", outside = dir / "outside";
  const std::string cat = root + "/Status", error = cat + "/Error";
  fs::create_directories(root);
  fs::create_directories(outside + "/Error");
  WriteFileBytes(outside + "/A_1.txt", "outside");
  AgentFolder agent = AgentFolder::Open(root);
  ASSERT_TRUE(agent.IsOpen());
  ASSERT_TRUE(agent.HoldFolder(cat));  // made
  ASSERT_TRUE(agent.HoldFolder(error));
  WriteFileBytes(cat + "/A_1.txt", "inside");
  fs::rename(cat, root + "/Moved");
  fs::create_directory_symlink(outside, cat);

  File file = agent.Open(cat + "/A_1.txt", OpenMode::kReadExisting);
  ASSERT_TRUE(file.IsOpen());
  char bytes[16] = {};
  EXPECT_EQ(file.Read(bytes, sizeof bytes), 6);
  EXPECT_EQ(std::string(bytes), "inside");
  EXPECT_TRUE(agent.CanDelete(cat + "/A_1.txt", file));
  EXPECT_EQ(agent.MoveNoReplace(cat + "/A_1.txt", error + "/A_1.txt"), MoveOutcome::kMoved);
  EXPECT_TRUE(fs::exists(root + "/Moved/Error/A_1.txt"));
  EXPECT_TRUE(agent.DeleteFileAt(error + "/A_1.txt"));
  DirSearch search;
  DirEntry entry;
  EXPECT_EQ(agent.First(search, cat + "/*.txt", entry), SearchStep::kNoMore);
  EXPECT_EQ(ReadFileBytes(outside + "/A_1.txt"), "outside");

  // Below a held folder, a link at any level is refused, for reads and writes alike.
  fs::create_directory_symlink(outside, root + "/Moved/sub");
  EXPECT_FALSE(agent.Open(cat + "/sub/A_1.txt", OpenMode::kReadExisting).IsOpen());
  EXPECT_FALSE(agent.Open(cat + "/sub/B_2.txt", OpenMode::kAppendAlways).IsOpen());
  EXPECT_FALSE(agent.CreateFolder(cat + "/sub/new"));
  EXPECT_FALSE(fs::exists(outside + "/B_2.txt"));
  EXPECT_FALSE(fs::exists(outside + "/new"));
}

TEST(AgentFolder, AFolderIsFoundWhateverItsLetterCaseAndALinkIsNeverHeld) {
  TempDir dir;
  const std::string root = dir / "agent";
  fs::create_directories(root + "/Status");
  fs::create_directory_symlink(dir.path(), root + "/Linked");
  AgentFolder agent = AgentFolder::Open(root);
  ASSERT_TRUE(agent.HoldFolder(root + "/status"));
  EXPECT_FALSE(fs::exists(root + "/status"));
  File made = agent.Open(root + "/status/x.txt", OpenMode::kWriteTruncate);
  EXPECT_TRUE(made.IsOpen());
  EXPECT_TRUE(fs::exists(root + "/Status/x.txt"));
  EXPECT_FALSE(agent.HoldFolder(root + "/Linked"));
  EXPECT_FALSE(agent.HoldFolder(root + "/Linked/Error"));
  EXPECT_FALSE(fs::exists(dir / "Error"));
}

// A file with a second name may be an outside file linked in: its mode is never changed
// through that name, and it is written only where nobody may link a file they could not
// write themselves; a new file is never one that exists.
TEST(AgentFolder, AFileWithASecondNameIsWrittenOnlyWhereLinksAreProtected) {
  TempDir dir;
  const std::string outside = dir / "outside.txt";
  WriteFileBytes(outside, "outside");
  ASSERT_EQ(link(outside.c_str(), (dir / "in.log").c_str()), 0);
  chmod(outside.c_str(), 0444);
  EXPECT_FALSE(SetAttributesNormal(dir / "in.log"));
  struct stat st;
  ASSERT_EQ(stat(outside.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  chmod(outside.c_str(), 0644);
  for (OpenMode mode : {OpenMode::kAppendAlways, OpenMode::kReadWriteExisting}) {
    EXPECT_EQ(File::Open(dir / "in.log", mode).IsOpen(), SecondNamesHarmless());
    if (!SecondNamesHarmless()) EXPECT_EQ(LastError(), EMLINK);
  }
  EXPECT_FALSE(File::Open(dir / "in.log", OpenMode::kCreateNew).IsOpen());
  EXPECT_TRUE(File::Open(dir / "new.zip", OpenMode::kCreateNew).IsOpen());
  File read = File::Open(dir / "in.log", OpenMode::kReadExisting);
  ASSERT_TRUE(read.IsOpen());
  EXPECT_EQ(read.Identity().links, 2u);
  EXPECT_EQ(ReadFileBytes(outside), "outside");
}

}  // namespace
}  // namespace vemtu::platform
