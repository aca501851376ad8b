// Processes: image paths of this and of another run, privileges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "helper_process.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace vemtu::platform {
namespace {

bool OnWindows() { return kPathSeparator == '\\'; }

std::string FileNameOf(const std::string& path) {
  std::string::size_type at = path.find_last_of("\\/");
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

TEST(Process, OwnImagePathIsTheRunningProgram) {
  std::string own = ExecutablePath();
  ASSERT_FALSE(own.empty());
  ProcessHandle self = ProcessHandle::Open(CurrentProcessId());
  ASSERT_TRUE(self.IsOpen());
  std::string image;
  ASSERT_TRUE(self.ImagePath(image, 299));
  EXPECT_EQ(Lower(FileNameOf(image)), Lower(FileNameOf(own)));
  EXPECT_NE(image.find_last_of(kPathSeparator), std::string::npos);

  std::string cut;
  ASSERT_TRUE(self.ImagePath(cut, 5));
  EXPECT_EQ(cut, image.substr(0, 5));
}

TEST(Process, OpeningAProcessThatIsGoneFails) {
  // Process ids are multiples of 4 on Windows and below 2^22 on Linux; this one is neither.
  EXPECT_FALSE(ProcessHandle::Open(0x7FFFFFF1u).IsOpen());
  ProcessHandle none;
  std::string image = "kept";
  EXPECT_FALSE(none.ImagePath(image, 299));
  EXPECT_EQ(image, "kept");
  EXPECT_FALSE(none.Terminate(0));
}

TEST(Process, DebugPrivilegeCanBeEnabledAndDisabled) {
  AccessToken token = AccessToken::OpenOwn();
  ASSERT_TRUE(token.IsOpen());
  EXPECT_TRUE(EnablePrivilege(token, "SeDebugPrivilege", true));
  EXPECT_TRUE(EnablePrivilege(token, "SeDebugPrivilege", false));
  EXPECT_TRUE(EnablePrivilege(token, "SeDebugPrivilege", true));
  if (!OnWindows()) return;  // nothing to look up on Linux: every name is accepted
  EXPECT_FALSE(EnablePrivilege(token, "SeNoSuchPrivilege", true));
  AccessToken moved = std::move(token);
  EXPECT_FALSE(token.IsOpen());
  EXPECT_FALSE(EnablePrivilege(token, "SeDebugPrivilege", true));
  EXPECT_TRUE(EnablePrivilege(moved, "SeDebugPrivilege", true));
}

// The previous-run check reads the image path of another run by its process id.
TEST(Process, ImagePathOfAnotherRunNamesItsProgram) {
  std::string token = test::NewHelperToken();
  ASSERT_TRUE(test::StartMutexHolder(token));
  ProcessId helper = 0;
  ASSERT_TRUE(test::WaitForHolder(token, helper, 30000)) << "the helper did not start";
  ASSERT_NE(helper, CurrentProcessId());

  ProcessHandle process = ProcessHandle::Open(helper);
  ASSERT_TRUE(process.IsOpen());
  std::string image;
  EXPECT_TRUE(process.ImagePath(image, 299));
  EXPECT_EQ(Lower(FileNameOf(image)), Lower(FileNameOf(ExecutablePath())));
  EXPECT_TRUE(process.Terminate(0));
}

}  // namespace
}  // namespace vemtu::platform
