// Lock names around the system's limit for object names (MAX_PATH): log locks are named
// after full log paths, which may be longer.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "helper_process.h"
#include "platform/named_mutex.h"

namespace vemtu::platform {
namespace {

// A lock's owner may take it again, so a probe must come from another thread.
WaitResult ProbeFromOtherThread(const std::string& name) {
  WaitResult result = WaitResult::kFailed;
  std::thread([&] {
    NamedMutex probe = NamedMutex::Create(name);
    result = probe.Wait(0);
    if (result == WaitResult::kAcquired) probe.Release();
  }).join();
  return result;
}

TEST(NamedMutexNames, NamesAroundTheLimitWorkAndStayDistinct) {
  std::string stem = "vemtu-limit-" + test::NewHelperToken() + "-";
  for (std::size_t length : {259, 260, 261, 400, 1000}) {
    SCOPED_TRACE(length);
    std::string name = stem;
    name.resize(length - 1, 'n');
    NamedMutex held = NamedMutex::Create(name + "a");
    ASSERT_TRUE(held.IsValid());
    ASSERT_EQ(held.Wait(0), WaitResult::kAcquired);

    EXPECT_EQ(ProbeFromOtherThread(name + "a"), WaitResult::kTimedOut);
    // Same head, a different last byte; and the held name with a tail added.
    EXPECT_EQ(ProbeFromOtherThread(name + "b"), WaitResult::kAcquired);
    EXPECT_EQ(ProbeFromOtherThread(name + "a-tail"), WaitResult::kAcquired);
    EXPECT_TRUE(held.Release());
  }
}

}  // namespace
}  // namespace vemtu::platform
