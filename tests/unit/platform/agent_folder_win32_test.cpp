// The Windows agent folder: held folders stay put, links above a checked folder are
// refused, and deletes and hard links are judged on the file's own handle.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/agent_folder.h"
#include "platform/errors.h"
#include "support/test_files.h"

namespace vemtu::platform {
namespace {

std::wstring Wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());  // the temporary paths are ASCII
}

bool IsLink(const std::string& path) {
  DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A link to a folder: a symbolic link where the system makes one, else (under Wine, whose
// CreateSymbolicLinkW makes nothing) a Linux one made by the Linux "ln".
bool LinkFolder(const std::string& target, const std::string& link) {
  if (CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) &&
      IsLink(link)) {
    return true;
  }
  auto unix_path = [](std::string path) {
    for (char& c : path) c = c == '\\' ? '/' : c;
    return path.size() > 2 && (path[0] == 'Z' || path[0] == 'z') ? path.substr(2) : std::string();
  };
  if (unix_path(link).empty()) return false;
  std::wstring command = Wide("Z:\\bin\\ln -s " + unix_path(target) + " " + unix_path(link));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int tries = 0; tries < 100 && !IsLink(link); ++tries) Sleep(20);
  return IsLink(link);
}

// Under Wine, "Z:" is the Linux root, where the Linux "ln" can make links.
std::filesystem::path TempBase() {
  DWORD attributes = GetFileAttributesW(L"Z:\\tmp");
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return "Z:\\tmp";
  return std::filesystem::temp_directory_path();
}

class WindowsAgentFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_ / "agent";
    ASSERT_TRUE(CreateFolder(root_));
    folder_ = AgentFolder::Open(root_);
    ASSERT_TRUE(folder_.IsOpen()) << LastError();
  }
  test::TempDir dir_{TempBase()};
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

TEST_F(WindowsAgentFolder, ALinkAboveACheckedFolderIsRefusedForEveryStep) {
  const std::string outside = dir_ / "outside";
  ASSERT_TRUE(CreateFolder(outside));
  test::WriteFileBytes(outside + "\\WebPost\\old.log", "outside log");
  if (!LinkFolder(outside, root_ + "\\ApplicationLog")) GTEST_SKIP() << "no folder link can be made here";
  const std::string log = root_ + "\\ApplicationLog\\WebPost\\old.log";

  const AgentFolder unrooted;  // the free functions, which the logs use
  for (const AgentFolder* agent : {static_cast<const AgentFolder*>(&folder_), &unrooted}) {
    EXPECT_FALSE(agent->Open(log, OpenMode::kAppendAlways).IsOpen());
    EXPECT_FALSE(agent->SetAttributesNormal(log));
    EXPECT_FALSE(agent->DeleteFileAt(log));
    EXPECT_FALSE(agent->CreateFolder(root_ + "\\ApplicationLog\\New"));
  }
  EXPECT_FALSE(folder_.Open(log, OpenMode::kReadExisting).IsOpen());
  EXPECT_FALSE(folder_.HoldFolder(root_ + "\\ApplicationLog"));
  EXPECT_EQ(test::ReadFileBytes(outside + "\\WebPost\\old.log"), "outside log");
  EXPECT_FALSE(test::FileExists(outside + "\\New"));
  // An agent folder below a link is refused as a whole.
  EXPECT_FALSE(AgentFolder::Open(root_ + "\\ApplicationLog\\WebPost").IsOpen());
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
    EXPECT_EQ(file.LinkCount(), 1u);
    EXPECT_TRUE(folder_.CanDelete(path, file)) << LastError();
    EXPECT_TRUE(AgentFolder().CanDelete(path, file)) << LastError();
    identity = file.Identity();
  }
  ASSERT_TRUE(CreateHardLinkW(Wide(category + "\\S_2.txt").c_str(), Wide(path).c_str(), nullptr));
  EXPECT_EQ(folder_.Open(path, OpenMode::kReadExisting).LinkCount(), 2u);
  ASSERT_TRUE(folder_.DeleteFileAt(category + "\\S_2.txt"));

  // Replaced under its name: the new file stays.
  ASSERT_TRUE(folder_.DeleteFileAt(path));
  test::WriteFileBytes(path, "second, another file");
  EXPECT_FALSE(folder_.DeleteIfUnchanged(path, identity));
  EXPECT_EQ(LastError(), ERROR_FILE_INVALID);
  EXPECT_TRUE(folder_.DeleteIfUnchanged(path, folder_.IdentityAt(path)));
  EXPECT_FALSE(test::FileExists(path));
}

}  // namespace
}  // namespace vemtu::platform
