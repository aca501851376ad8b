// Process starts, the per-thread last error, and libraries that are not there.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "helper_process.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/library.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace vemtu::platform {
namespace {

TEST(Process, StartOfAMissingProgramFailsAndHandlesMove) {
  EXPECT_FALSE(SpawnDetached("\"" + ExecutablePath() + ".missing\"", "Status"));
  EXPECT_FALSE(ProcessHandle::Open(0).IsOpen());

  ProcessHandle self = ProcessHandle::Open(CurrentProcessId());
  ASSERT_TRUE(self.IsOpen());
  ProcessHandle moved = std::move(self);
  EXPECT_FALSE(self.IsOpen());
  EXPECT_TRUE(moved.IsOpen());
  moved = ProcessHandle();
  EXPECT_FALSE(moved.IsOpen());
  RaiseOwnPriority();  // failures are ignored, never fatal
}

TEST(Process, EndedProcessCannotBeOpened) {
  // The helper is started and never waited for, as the agent starts its runs: once it
  // has ended, its id must read as gone even though nobody collected its exit.
  std::string token = test::NewHelperToken();
  ASSERT_TRUE(test::StartExitingHelper(token));
  ProcessId helper = 0;
  ASSERT_TRUE(test::WaitForHolder(token, helper, 20000));
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = !ProcessHandle::Open(helper).IsOpen();
    if (!gone) SleepMs(50);
  }
  EXPECT_TRUE(gone);
}

TEST(Errors, LastErrorBelongsToTheThread) {
  // The two threads interleave through atomics only: any system call in between might
  // set the last error itself.
  std::atomic<int> stage{0};
  int seen_by_other = -1;
  std::thread other([&] {
    SetLastError(12029);
    stage = 1;
    while (stage.load() != 2) {
    }
    seen_by_other = LastError();
    stage = 3;
  });
  while (stage.load() != 1) {
  }
  SetLastError(5);
  stage = 2;
  while (stage.load() != 3) {
  }
  int seen_here = LastError();
  other.join();
  EXPECT_EQ(seen_here, 5);
  EXPECT_EQ(seen_by_other, 12029);
}

TEST(Library, MissingLibraryIsNotLoaded) {
  Library library = Library::Load("NoSuchVemtuLibrary.dll");
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_EQ(library.Resolve("anything"), nullptr);
}

TEST(Library, StandInLibrarySuppliesItsMessageTextsWhileLoaded) {
  if (kPathSeparator == '\\') GTEST_SKIP() << "Windows has the system libraries";
  Library library = Library::Load("WinHttp.dll");  // libWinHttp.so beside the program
  ASSERT_TRUE(library.IsLoaded());
  EXPECT_NE(library.Resolve("WinHttpOpen"), nullptr);
  EXPECT_EQ(library.Resolve("NoSuchExportAnywhere"), nullptr);
  std::string text = ErrorText(12029);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
  EXPECT_EQ(ErrorText(12999), "");

  library.Unload();
  EXPECT_FALSE(library.IsLoaded());
}

}  // namespace
}  // namespace vemtu::platform
