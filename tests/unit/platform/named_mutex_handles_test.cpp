// Handles opened and closed around a named mutex while other handles, threads and
// processes use it: what a dead holder leaves behind, and that handles of one process
// never disturb each other's holds.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "helper_process.h"
#include "platform/clock.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include "platform/posix/named_mutex_table.h"
#endif

namespace vemtu::platform {
namespace {

// A lock's owner may take it again, so a probe must come from another thread (through
// a handle of its own).
WaitResult ProbeFromOtherThread(const std::string& name) {
  WaitResult result = WaitResult::kFailed;
  std::thread([&] {
    NamedMutex probe = NamedMutex::Create(name);
    result = probe.Wait(0);
    if (result == WaitResult::kAcquired || result == WaitResult::kAbandoned) probe.Release();
  }).join();
  return result;
}

// Opens and closes many other locks, so that nothing this process keeps for `name`
// outside its handles is still around.
void UseManyOtherLocks(const std::string& stem, std::size_t count = 100) {
  for (std::size_t i = 0; i < count; ++i) {
    NamedMutex other = NamedMutex::Create(stem + "-other-" + std::to_string(i));
    ASSERT_TRUE(other.IsValid());
    ASSERT_EQ(other.Wait(0), WaitResult::kAcquired);
    other.Release();
  }
}

// A helper process that holds the lock of `token` until killed.
struct Holder {
  std::string token = test::NewHelperToken();
  ProcessId pid = 0;

  bool Start() { return test::StartMutexHolder(token) && test::WaitForHolder(token, pid, 20000); }

  // Kills the helper and waits until it is gone (a zombie counts as gone).
  bool Kill() {
    ProcessHandle process = ProcessHandle::Open(pid);
    if (!process.IsOpen() || !process.Terminate(0)) return false;
    process.Close();
    for (int i = 0; i < 1000; ++i) {
      if (!ProcessHandle::Open(pid).IsOpen()) return true;
      SleepMs(10);
    }
    return false;
  }

  std::string name() const { return test::HelperMutexName(token); }
};

TEST(NamedMutexHandles, KilledHolderWithNoHandleLeftLeavesALockThatStartsAfresh) {
  Holder holder;
  for (int i = 0; i < 50; ++i) {
    // This process used the lock before, many times: closing its handles must leave
    // nothing that still counts as one.
    NamedMutex earlier = NamedMutex::Create(holder.name());
    ASSERT_EQ(earlier.Wait(0), WaitResult::kAcquired);
    earlier.Release();
  }
  ASSERT_TRUE(holder.Start());
  ASSERT_TRUE(holder.Kill());

  NamedMutex mutex = NamedMutex::Create(holder.name());
  ASSERT_TRUE(mutex.IsValid());
  EXPECT_EQ(mutex.Wait(10000), WaitResult::kAcquired);
  EXPECT_TRUE(mutex.Release());
  EXPECT_EQ(ProbeFromOtherThread(holder.name()), WaitResult::kAcquired);
}

TEST(NamedMutexHandles, HandleOpenedAfterTheHolderDiedDoesNotHideTheAbandonment) {
  Holder holder;
  NamedMutex before = NamedMutex::Create(holder.name());
  ASSERT_TRUE(before.IsValid());
  ASSERT_TRUE(holder.Start());
  ASSERT_TRUE(holder.Kill());

  // Another handle and another thread come and go first: the lock was open throughout,
  // so the first to take it must hear of the dead holder.
  NamedMutex after = NamedMutex::Create(holder.name());
  ASSERT_TRUE(after.IsValid());
  after.Close();
  EXPECT_EQ(ProbeFromOtherThread(holder.name()), WaitResult::kAbandoned);
  EXPECT_EQ(before.Wait(0), WaitResult::kAcquired);  // told once only
  EXPECT_TRUE(before.Release());
}

TEST(NamedMutexHandles, LockHeldByAnotherProcessStaysHeldForHandlesOpenedLater) {
  Holder holder;
  ASSERT_TRUE(holder.Start());
  {
    NamedMutex first = NamedMutex::Create(holder.name());
    EXPECT_EQ(first.Wait(0), WaitResult::kTimedOut);
  }
  UseManyOtherLocks(holder.token);

  NamedMutex again = NamedMutex::Create(holder.name());
  ASSERT_TRUE(again.IsValid());
  EXPECT_EQ(again.Wait(0), WaitResult::kTimedOut);
  EXPECT_FALSE(again.Release());
  ASSERT_TRUE(holder.Kill());
  EXPECT_EQ(again.Wait(10000), WaitResult::kAbandoned);
  EXPECT_TRUE(again.Release());
}

TEST(NamedMutexHandles, ClosingOneHandleLeavesTheHoldOfAnotherAlone) {
  const std::string name = "vemtu-mutex-test-share-" + test::NewHelperToken();
  NamedMutex holding = NamedMutex::Create(name);
  ASSERT_EQ(holding.Wait(0), WaitResult::kAcquired);
  {
    NamedMutex second = NamedMutex::Create(name);
    ASSERT_TRUE(second.IsValid());
    EXPECT_EQ(second.Wait(0), WaitResult::kAcquired);  // same thread: taken again
    EXPECT_TRUE(second.Release());
  }  // closed: held once more through `holding`
  EXPECT_EQ(ProbeFromOtherThread(name), WaitResult::kTimedOut);

  UseManyOtherLocks(name);
  EXPECT_EQ(ProbeFromOtherThread(name), WaitResult::kTimedOut);

  // Closing the holding handle gives the lock up.
  holding.Close();
  EXPECT_EQ(ProbeFromOtherThread(name), WaitResult::kAcquired);
}

TEST(NamedMutexHandles, ThreadsOpeningAndClosingManyNamesStillExclude) {
  // Some names are shared by all threads; others are used once, so that kept locks come
  // and go while the shared ones are in use.
  const std::string stem = "vemtu-mutex-test-names-" + test::NewHelperToken() + "-";
  constexpr int kShared = 3;
  std::atomic<int> inside[kShared] = {};
  std::atomic<int> overlaps{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> users;
  for (int t = 0; t < 4; ++t) {
    users.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        if (i % 10 == 0) {
          NamedMutex once = NamedMutex::Create(stem + std::to_string(t) + "-" + std::to_string(i));
          if (once.Wait(0) != WaitResult::kAcquired || !once.Release()) ++failures;
        }
        int which = (t + i) % kShared;
        NamedMutex mutex = NamedMutex::Create(stem + "shared-" + std::to_string(which));
        if (mutex.Wait(10000) != WaitResult::kAcquired) {
          ++failures;
          continue;
        }
        if (inside[which].fetch_add(1) != 0) ++overlaps;
        std::this_thread::yield();
        inside[which].fetch_sub(1);
        if (!mutex.Release()) ++failures;
      }
    });
  }
  for (std::thread& user : users) user.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(failures.load(), 0);
}

#ifndef _WIN32
// A forked child that opens the lock `name` (and closes its handle again unless
// `keep_open`), then stays alive until told to end: another process that has, or had,
// the lock open while its holder dies.
class OtherUser {
 public:
  OtherUser(const std::string& name, bool keep_open) {
    int ready[2], end[2];
    if (pipe(ready) != 0 || pipe(end) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(end[1]);
      NamedMutex mutex = NamedMutex::Create(name);
      if (!keep_open) mutex.Close();
      char done = mutex.IsValid() || !keep_open ? 1 : 0;
      (void)!write(ready[1], &done, 1);
      (void)!read(end[0], &done, 1);
      _exit(0);
    }
    close(ready[1]);
    close(end[0]);
    end_ = end[1];
    char done = 0;
    started_ = pid_ > 0 && read(ready[0], &done, 1) == 1 && done == 1;
    close(ready[0]);
  }
  ~OtherUser() {
    if (end_ >= 0) close(end_);  // the child reads end of file and ends
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool started() const { return started_; }

 private:
  pid_t pid_ = -1;
  int end_ = -1;
  bool started_ = false;
};

TEST(NamedMutexHandles, DeadHolderIsReportedOnlyWhileAnotherProcessHasTheLockOpen) {
  struct Case {
    bool other_keeps_it_open;
    WaitResult first_wait;
  };
  for (const Case& c : {Case{true, WaitResult::kAbandoned}, Case{false, WaitResult::kAcquired}}) {
    SCOPED_TRACE(c.other_keeps_it_open ? "other process keeps a handle" : "other process closed it");
    Holder holder;
    ASSERT_TRUE(holder.Start());
    OtherUser other(holder.name(), c.other_keeps_it_open);
    ASSERT_TRUE(other.started());
    ASSERT_TRUE(holder.Kill());

    NamedMutex mutex = NamedMutex::Create(holder.name());
    ASSERT_TRUE(mutex.IsValid());
    EXPECT_EQ(mutex.Wait(10000), c.first_wait);
    EXPECT_TRUE(mutex.Release());
  }
}

// A name gives its slot back with its last handle: more names than the table has slots,
// used one after another, all open; a name still open keeps its lock meanwhile.
TEST(NamedMutexHandles, NamesUsedOneAfterAnotherNeverRunOutOfSlots) {
  const std::string name = "vemtu-mutex-test-slots-" + test::NewHelperToken();
  NamedMutex open_one = NamedMutex::Create(name);
  ASSERT_EQ(open_one.Wait(0), WaitResult::kAcquired);
  UseManyOtherLocks(name, named_mutex_detail::kLockSlots + 100);
  EXPECT_EQ(ProbeFromOtherThread(name), WaitResult::kTimedOut);
  EXPECT_TRUE(NamedMutexIsOpen(name));
  open_one.Close();
  EXPECT_FALSE(NamedMutexIsOpen(name));
}
#endif

}  // namespace
}  // namespace vemtu::platform
