// Process starts, the per-thread last error, and libraries that are not there.
#include <gtest/gtest.h>

#include <string>
#include <thread>

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

TEST(Errors, LastErrorBelongsToTheThread) {
  SetLastError(5);
  int other_thread = -1;
  std::thread([&] {
    SetLastError(12029);
    other_thread = LastError();
  }).join();
  EXPECT_EQ(LastError(), 5);
  EXPECT_EQ(other_thread, 12029);
}

TEST(Library, MissingLibraryIsNotLoaded) {
  Library library = Library::Load("NoSuchVemtuLibrary.dll");
  EXPECT_FALSE(library.IsLoaded());
  EXPECT_EQ(library.Resolve("anything"), nullptr);
}

}  // namespace
}  // namespace vemtu::platform
