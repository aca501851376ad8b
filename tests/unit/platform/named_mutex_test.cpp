#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "helper_process.h"
#include "platform/process.h"

namespace vemtu::platform {
namespace {

std::string UniqueName(const char* what) {
  return std::string("vemtu-mutex-test-") + what + "-" + test::NewHelperToken();
}

// Waits for `mutex` on another thread and releases it again when obtained.
WaitResult WaitOnOtherThread(NamedMutex& mutex, unsigned long timeout_ms) {
  WaitResult result = WaitResult::kFailed;
  std::thread([&] {
    result = mutex.Wait(timeout_ms);
    if (result == WaitResult::kAcquired || result == WaitResult::kAbandoned) mutex.Release();
  }).join();
  return result;
}

TEST(NamedMutex, IsRecursiveForItsOwnerAndRefusesOtherThreads) {
  NamedMutex mutex = NamedMutex::Create(UniqueName("recursive"));
  ASSERT_TRUE(mutex.IsValid());
  EXPECT_EQ(mutex.Wait(0), WaitResult::kAcquired);
  EXPECT_EQ(mutex.Wait(0), WaitResult::kAcquired);

  bool released_by_other = true;
  std::thread([&] { released_by_other = mutex.Release(); }).join();
  EXPECT_FALSE(released_by_other);
  EXPECT_EQ(WaitOnOtherThread(mutex, 0), WaitResult::kTimedOut);

  EXPECT_TRUE(mutex.Release());
  EXPECT_EQ(WaitOnOtherThread(mutex, 0), WaitResult::kTimedOut);  // still held once
  EXPECT_TRUE(mutex.Release());
  EXPECT_FALSE(mutex.Release());  // no longer held
  EXPECT_EQ(WaitOnOtherThread(mutex, 0), WaitResult::kAcquired);
}

TEST(NamedMutex, TimedWaitEndsAfterItsTimeOut) {
  NamedMutex mutex = NamedMutex::Create(UniqueName("timeout"));
  ASSERT_EQ(mutex.Wait(1000), WaitResult::kAcquired);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitOnOtherThread(mutex, 150), WaitResult::kTimedOut);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(120));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_TRUE(mutex.Release());
}

TEST(NamedMutex, HandlesOfOneNameShareTheLockAndLongNamesStayDistinct) {
  // Log-path names: long, and differing only in their last character.
  std::string stem = UniqueName("long") + std::string(300, 'x') + "/ApplicationLog/WebPost";
  NamedMutex first = NamedMutex::Create(stem + "A.log");
  NamedMutex same = NamedMutex::Create(stem + "A.log");
  NamedMutex other = NamedMutex::Create(stem + "B.log");
  ASSERT_TRUE(first.IsValid() && same.IsValid() && other.IsValid());

  ASSERT_EQ(first.Wait(0), WaitResult::kAcquired);
  EXPECT_EQ(WaitOnOtherThread(same, 0), WaitResult::kTimedOut);
  EXPECT_EQ(WaitOnOtherThread(other, 0), WaitResult::kAcquired);
  EXPECT_TRUE(first.Release());
  EXPECT_EQ(WaitOnOtherThread(same, 0), WaitResult::kAcquired);
}

TEST(NamedMutex, ThreadThatEndsHoldingItLeavesItAbandoned) {
  NamedMutex mutex = NamedMutex::Create(UniqueName("thread-end"));
  WaitResult taken = WaitResult::kFailed;
  std::thread([&] { taken = mutex.Wait(1000); }).join();
  ASSERT_EQ(taken, WaitResult::kAcquired);
  EXPECT_EQ(mutex.Wait(5000), WaitResult::kAbandoned);
  EXPECT_EQ(WaitOnOtherThread(mutex, 0), WaitResult::kTimedOut);  // now held by us
  EXPECT_TRUE(mutex.Release());
  EXPECT_EQ(WaitOnOtherThread(mutex, 0), WaitResult::kAcquired);
}

TEST(NamedMutex, KilledHolderInAnotherProcessLeavesItAbandoned) {
  std::string token = test::NewHelperToken();
  NamedMutex mutex = NamedMutex::Create(test::HelperMutexName(token));
  ASSERT_TRUE(mutex.IsValid());
  ASSERT_TRUE(test::StartMutexHolder(token));
  ProcessId holder = 0;
  ASSERT_TRUE(test::WaitForHolder(token, holder, 20000));

  EXPECT_EQ(mutex.Wait(100), WaitResult::kTimedOut);
  EXPECT_FALSE(mutex.Release());  // held by the helper, not by us

  ProcessHandle process = ProcessHandle::Open(holder);
  ASSERT_TRUE(process.IsOpen());
  ASSERT_TRUE(process.Terminate(0));
  process.Close();

  EXPECT_EQ(mutex.Wait(10000), WaitResult::kAbandoned);
  EXPECT_TRUE(mutex.Release());
  EXPECT_EQ(mutex.Wait(0), WaitResult::kAcquired);  // usable again afterwards
  EXPECT_TRUE(mutex.Release());
}

TEST(NamedMutex, HandlesOpenedAndClosedPerUseStillExcludeEachOther) {
  // As the log appender uses them: every use creates, waits, releases and closes. The
  // last handle to close removes the lock and the next one recreates it; no two users
  // may ever be inside together.
  const std::string name = UniqueName("churn");
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> users;
  for (int t = 0; t < 4; ++t) {
    users.emplace_back([&] {
      for (int i = 0; i < 150; ++i) {
        NamedMutex mutex = NamedMutex::Create(name);
        if (mutex.Wait(10000) != WaitResult::kAcquired) {
          ++failures;
          continue;
        }
        if (inside.fetch_add(1) != 0) ++overlaps;
        std::this_thread::yield();
        inside.fetch_sub(1);
        if (!mutex.Release()) ++failures;
      }
    });
  }
  for (std::thread& user : users) user.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(failures.load(), 0);
}

TEST(NamedMutex, ClosedHandleFailsEveryCall) {
  NamedMutex mutex = NamedMutex::Create(UniqueName("closed"));
  mutex.Close();
  EXPECT_FALSE(mutex.IsValid());
  EXPECT_EQ(mutex.Wait(0), WaitResult::kFailed);
  EXPECT_FALSE(mutex.Release());

  NamedMutex moved_from = NamedMutex::Create(UniqueName("moved"));
  NamedMutex target = std::move(moved_from);
  EXPECT_TRUE(target.IsValid());
  EXPECT_EQ(target.Wait(0), WaitResult::kAcquired);
  EXPECT_TRUE(target.Release());
}

}  // namespace
}  // namespace vemtu::platform
