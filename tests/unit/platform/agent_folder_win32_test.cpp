// The Windows agent folder: held folders stay put, and deletes and hard links are judged
// on the file's own handle. (Links above a checked folder: the hostile scenarios, which
// make Linux links that Wine shows as reparse points.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/agent_folder.h"
#include "platform/errors.h"
#include "support/test_files.h"

namespace vemtu::platform {
namespace {

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());  // the temporary paths are ASCII
}

class WindowsAgentFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_ / "agent";
    ASSERT_TRUE(CreateFolder(root_));
    folder_ = AgentFolder::Open(root_);
    ASSERT_TRUE(folder_.IsOpen()) << LastError();
  }
  test::TempDir dir_;
  std::string root_;
  AgentFolder folder_;
};

TEST_F(WindowsAgentFolder, HeldFoldersCannotBeRenamedAwayDuringTheRun) {
  const std::string category = root_ + "\\AlertTkt";
  ASSERT_TRUE(folder_.HoldFolder(category));  // made when missing
  ASSERT_TRUE(folder_.HoldFolder(category + "\\Error"));
  for (const std::string& held : {root_, category, category + "\\Error"}) {
    EXPECT_FALSE(MoveFileExW(Wide(held).c_str(), Wide(held + "2").c_str(), 0)) << held;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  // Files inside them still come and go.
  test::WriteFileBytes(category + "\\A_N_1.txt", "text");
  EXPECT_EQ(folder_.MoveNoReplace(category + "\\A_N_1.txt", category + "\\Error\\A_N_1.txt"),
            MoveOutcome::kMoved);
  EXPECT_FALSE(folder_.HoldFolder(dir_ / "elsewhere"));
}

TEST_F(WindowsAgentFolder, DeletesAndLinkCountsAreJudgedOnTheOpenFile) {
  const std::string category = root_ + "\\Status";
  ASSERT_TRUE(folder_.HoldFolder(category));
  const std::string path = category + "\\S_1.txt";
  test::WriteFileBytes(path, "first");
  FileIdentity identity;
  {
    File file = folder_.Open(path, OpenMode::kReadExisting);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Identity().links, 1u);
    EXPECT_TRUE(folder_.CanDelete(path, file)) << LastError();
    EXPECT_TRUE(AgentFolder().CanDelete(path, file)) << LastError();
    identity = file.Identity();
  }
  ASSERT_TRUE(CreateHardLinkW(Wide(category + "\\S_2.txt").c_str(), Wide(path).c_str(), nullptr));
  EXPECT_EQ(folder_.Open(path, OpenMode::kReadExisting).Identity().links, 2u);
  EXPECT_EQ(folder_.IdentityAt(path).links, 2u);
  ASSERT_TRUE(folder_.DeleteFileAt(category + "\\S_2.txt"));

  // Replaced under its name: the new file stays.
  ASSERT_TRUE(folder_.DeleteFileAt(path));
  test::WriteFileBytes(path, "second, another file");
  EXPECT_FALSE(folder_.DeleteIfUnchanged(path, identity));
  EXPECT_EQ(LastError(), ERROR_FILE_INVALID);
  EXPECT_TRUE(folder_.DeleteIfUnchanged(path, folder_.IdentityAt(path)));
  EXPECT_FALSE(test::FileExists(path));
}

// Second names made inside the folder for read-only files outside it, named like a
// result file and a packed copy: neither the attributes nor the bytes change through them.
TEST_F(WindowsAgentFolder, ASecondNameNeverChangesTheAttributesOrBytesOfItsFile) {
  const std::string category = root_ + "\\Status";
  ASSERT_TRUE(folder_.HoldFolder(category));
  for (const char* name : {"ST_N_0.txt", "ST_Y_2.zip"}) {
    SCOPED_TRACE(name);
    const std::string outside = dir_ / (std::string("outside_") + name);
    const std::string bytes = name[3] == 'N' ? "" : "outside bytes";
    test::WriteFileBytes(outside, bytes);
    ASSERT_TRUE(SetFileAttributesW(Wide(outside).c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string inside = category + "\\" + name;
    ASSERT_TRUE(CreateHardLinkW(Wide(inside).c_str(), Wide(outside).c_str(), nullptr));

    EXPECT_FALSE(folder_.SetAttributesNormal(inside));
    EXPECT_EQ(LastError(), ERROR_TOO_MANY_LINKS);
    for (OpenMode mode : {OpenMode::kReadWriteExisting, OpenMode::kReadWriteAlways,
                          OpenMode::kWriteTruncate, OpenMode::kWriteTruncateUnshared,
                          OpenMode::kAppendAlways}) {
      EXPECT_FALSE(folder_.Open(inside, mode).IsOpen()) << static_cast<int>(mode);
    }
    File reader = folder_.Open(inside, OpenMode::kReadExisting);
    EXPECT_TRUE(reader.IsOpen());
    EXPECT_FALSE(folder_.CanDelete(inside, reader));
    EXPECT_EQ(GetFileAttributesW(Wide(outside).c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(test::ReadFileBytes(outside), bytes);
  }
}

}  // namespace
}  // namespace vemtu::platform
