// Processes across the platform boundary: the own image path, privileges, and a child
// run of this very test program that holds a named lock until it is terminated.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "support/test_files.h"

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

// The child learns what to do from an extra pattern in its test filter,
// ":child-" + hex(lock name + "|" + pid file), which no ordinary run ever carries.
constexpr const char* kChildMarker = ":child-";

std::string ToHex(const std::string& text) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : text) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

std::string FromHex(const std::string& hex) {
  auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  std::string text;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    text += static_cast<char>(value(hex[i]) * 16 + value(hex[i + 1]));
  }
  return text;
}

TEST(ProcessChild, HoldsLockUntilEnded) {
  std::string filter = GTEST_FLAG_GET(filter);
  std::string::size_type at = filter.find(kChildMarker);
  if (at == std::string::npos) GTEST_SKIP() << "runs only as the child of SpawnedChild";
  std::string payload = FromHex(filter.substr(at + std::char_traits<char>::length(kChildMarker)));
  std::string lock_name = payload.substr(0, payload.find('|'));
  std::string pid_file = payload.substr(payload.find('|') + 1);

  NamedMutex lock = NamedMutex::Create(lock_name);
  ASSERT_EQ(lock.Wait(10000), WaitResult::kAcquired);
  test::WriteFileBytes(pid_file + ".tmp", std::to_string(CurrentProcessId()));
  ASSERT_TRUE(MoveReplace(pid_file + ".tmp", pid_file));
  SleepMs(30000);  // the parent ends this process long before
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

// One child run exercises the start of a detached process, the image path of another
// process, its termination, and a lock abandoned by a process that died holding it.
TEST(Process, SpawnedChildHoldsLockUntilTerminatedThenLockIsAbandoned) {
  test::TempDir dir;
  std::string pid_file = dir / "child.pid";
  std::string lock_name = "VemtuTestChild" + std::to_string(CurrentProcessId());
  std::string word = "--gtest_filter=ProcessChild.HoldsLockUntilEnded" +
                     std::string(kChildMarker) + ToHex(lock_name + "|" + pid_file);
  ASSERT_TRUE(SpawnDetached("\"" + ExecutablePath() + "\"", word));

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!test::FileExists(pid_file) && std::chrono::steady_clock::now() < deadline) SleepMs(20);
  ASSERT_TRUE(test::FileExists(pid_file)) << "the child did not start";
  ProcessId child = static_cast<ProcessId>(std::stoul(test::ReadFileBytes(pid_file)));
  ASSERT_NE(child, CurrentProcessId());

  NamedMutex lock = NamedMutex::Create(lock_name);
  ASSERT_TRUE(lock.IsValid());
  EXPECT_EQ(lock.Wait(0), WaitResult::kTimedOut);

  ProcessHandle process = ProcessHandle::Open(child);
  ASSERT_TRUE(process.IsOpen());
  std::string image;
  ASSERT_TRUE(process.ImagePath(image, 299));
  EXPECT_EQ(Lower(FileNameOf(image)), Lower(FileNameOf(ExecutablePath())));
  EXPECT_TRUE(process.Terminate(0));
  process.Close();

  EXPECT_EQ(lock.Wait(20000), WaitResult::kAbandoned);
  EXPECT_TRUE(lock.Release());
  // Once taken over, the lock is an ordinary one again.
  EXPECT_EQ(lock.Wait(0), WaitResult::kAcquired);
  EXPECT_TRUE(lock.Release());
}

}  // namespace
}  // namespace vemtu::platform
