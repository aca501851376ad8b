// Named locks whose names exceed the system's limit for object names (log locks are
// named after full log paths) and their ownership rules.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "platform/named_mutex.h"
#include "platform/process.h"

namespace vemtu::platform {
namespace {

// Holds one named lock on a thread of its own until destroyed, so that the test thread
// can probe it (a lock's owner may take it again, so probing from the owner proves nothing).
class HeldElsewhere {
 public:
  explicit HeldElsewhere(const std::string& name) {
    thread_ = std::thread([this, name] {
      NamedMutex lock = NamedMutex::Create(name);
      WaitResult result = lock.Wait(5000);
      {
        std::lock_guard<std::mutex> guard(mutex_);
        held_ = result == WaitResult::kAcquired;
        ready_ = true;
      }
      changed_.notify_all();
      std::unique_lock<std::mutex> wait(mutex_);
      changed_.wait(wait, [this] { return done_; });
      if (held_) lock.Release();
    });
    std::unique_lock<std::mutex> wait(mutex_);
    changed_.wait(wait, [this] { return ready_; });
  }
  ~HeldElsewhere() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  bool held() const { return held_; }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ready_ = false, done_ = false, held_ = false;
  std::thread thread_;
};

std::string Named(std::size_t length, char tail) {
  std::string name = "VemtuTest" + std::to_string(CurrentProcessId()) + "-";
  name.resize(length - 1, 'n');
  return name + tail;
}

TEST(NamedMutexNames, LongNamesWorkAndStayDistinct) {
  for (std::size_t length : {259, 260, 261, 400, 1000}) {
    SCOPED_TRACE(length);
    std::string held_name = Named(length, 'a');
    std::string other_name = Named(length, 'b');  // same head, differs in the last byte
    HeldElsewhere holder(held_name);
    ASSERT_TRUE(holder.held());

    NamedMutex same = NamedMutex::Create(held_name);
    ASSERT_TRUE(same.IsValid());
    EXPECT_EQ(same.Wait(0), WaitResult::kTimedOut);

    NamedMutex other = NamedMutex::Create(other_name);
    ASSERT_TRUE(other.IsValid());
    EXPECT_EQ(other.Wait(0), WaitResult::kAcquired);
    EXPECT_TRUE(other.Release());
  }
}

TEST(NamedMutexNames, NamesDifferingOnlyAtTheLimitAreDistinct) {
  // A name cut to the limit and a name of exactly that length must not meet.
  std::string at_limit = Named(259, 'x');
  std::string longer = at_limit + "-tail";
  HeldElsewhere holder(at_limit);
  ASSERT_TRUE(holder.held());
  NamedMutex other = NamedMutex::Create(longer);
  ASSERT_TRUE(other.IsValid());
  EXPECT_EQ(other.Wait(0), WaitResult::kAcquired);
  EXPECT_TRUE(other.Release());
}

TEST(NamedMutexOwnership, ReleaseByAnotherThreadFailsAndMovedFromIsEmpty) {
  std::string name = Named(40, 'r');
  HeldElsewhere holder(name);
  ASSERT_TRUE(holder.held());
  NamedMutex probe = NamedMutex::Create(name);
  ASSERT_TRUE(probe.IsValid());
  EXPECT_FALSE(probe.Release());

  NamedMutex moved = std::move(probe);
  EXPECT_FALSE(probe.IsValid());
  EXPECT_EQ(probe.Wait(0), WaitResult::kFailed);
  EXPECT_FALSE(probe.Release());
  EXPECT_EQ(moved.Wait(0), WaitResult::kTimedOut);
}

}  // namespace
}  // namespace vemtu::platform
