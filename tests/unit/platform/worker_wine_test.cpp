// Steps on worker threads: finished, overrunning, and failing steps.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/worker.h"

namespace vemtu::platform {
namespace {

using Step = std::shared_ptr<std::function<void()>>;

TEST(Worker, FinishedStepHasRunAndIsReleasedByTheWorker) {
  auto ran = std::make_shared<std::atomic<int>>(0);
  Step step = std::make_shared<std::function<void()>>([ran] { ++*ran; });
  EXPECT_EQ(RunOnWorker(step, 10000), WorkerOutcome::kFinished);
  EXPECT_EQ(ran->load(), 1);
  // On Windows the wait ends with the thread, after it dropped its reference; a Linux
  // worker may still be on its way out.
  if (kPathSeparator == '\\') {
    EXPECT_EQ(step.use_count(), 1);
  }
}

TEST(Worker, FaultInTheStepEndsOnlyTheStep) {
  Step step = std::make_shared<std::function<void()>>([] { throw std::runtime_error("x"); });
  EXPECT_EQ(RunOnWorker(step, 10000), WorkerOutcome::kFinished);
}

TEST(Worker, OverrunningStepTimesOutAndStaysOwned) {
  auto finished = std::make_shared<std::atomic<bool>>(false);
  Step step = std::make_shared<std::function<void()>>([finished] {
    SleepMs(400);
    *finished = true;
  });
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunOnWorker(step, 50), WorkerOutcome::kTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // The late worker is abandoned, not ended: it still owns its reference and runs on
  // to its end (a thread cut off inside a library could leave a lock held).
  EXPECT_GE(step.use_count(), 2);
  for (int i = 0; i < 100 && !finished->load(); ++i) SleepMs(20);
  EXPECT_TRUE(finished->load()) << "the late worker was ended";
}

// A worker still busy with an overrun step is never handed the next one, and steps of
// two callers at once each get a worker of their own: both steps below only end once
// the other is running too.
TEST(Worker, BusyWorkersAreNotHandedFurtherSteps) {
  Step overrun = std::make_shared<std::function<void()>>([] { SleepMs(3000); });
  ASSERT_EQ(RunOnWorker(overrun, 20), WorkerOutcome::kTimedOut);
  auto ran = std::make_shared<std::atomic<int>>(0);
  Step quick = std::make_shared<std::function<void()>>([ran] { ++*ran; });
  EXPECT_EQ(RunOnWorker(quick, 300), WorkerOutcome::kFinished) << "waited for the busy worker";
  EXPECT_EQ(ran->load(), 1);

  auto running = std::make_shared<std::atomic<int>>(0);
  auto met = std::make_shared<std::atomic<int>>(0);
  auto meet = [running, met] {
    ++*running;
    for (int i = 0; i < 200 && running->load() < 2; ++i) SleepMs(5);
    if (running->load() == 2) ++*met;
  };
  WorkerOutcome first = WorkerOutcome::kFailed;
  std::thread other([&] { first = RunOnWorker(std::make_shared<std::function<void()>>(meet), 2000); });
  WorkerOutcome second = RunOnWorker(std::make_shared<std::function<void()>>(meet), 2000);
  other.join();
  EXPECT_EQ(first, WorkerOutcome::kFinished);
  EXPECT_EQ(second, WorkerOutcome::kFinished);
  EXPECT_EQ(met->load(), 2) << "the two steps did not run side by side";
}

}  // namespace
}  // namespace vemtu::platform
