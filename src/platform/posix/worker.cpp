// A step on a worker thread, waited for with a time-out. Linux cannot end a thread from
// outside, so an overrunning worker is left to finish on its own: it holds the step and
// the shared wait state, and the caller's return frees nothing it still uses.
//
// Workers are kept for a while after their step: a run makes several steps per post,
// and starting a thread for each cost more than most steps themselves. A worker that
// overruns keeps its thread; the next step simply gets another one.
#include "platform/worker.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace vemtu::platform {
namespace {

struct Completion {
  std::mutex mutex;
  std::condition_variable done_changed;
  bool done = false;
};

constexpr unsigned long kInfinite = 0xFFFFFFFFUL;

// How long a worker without a step waits for the next one before it ends.
constexpr std::chrono::seconds kIdleLimit{2};

class WorkerPool {
 public:
  // Hands `task` to an idle worker, or starts a new one; false when no thread could start.
  bool Run(std::function<void()> task) {
    bool handed = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (idle_ > tasks_.size()) {
        tasks_.push_back(std::move(task));
        handed = true;
      }
    }
    if (handed) {
      // Woken after the mutex is free: a worker woken under it would only wait for it.
      task_ready_.notify_one();
      return true;
    }
    try {
      std::thread([this, first = std::move(task)]() mutable { Serve(std::move(first)); })
          .detach();
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

 private:
  void Serve(std::function<void()> task) {
    for (;;) {
      task();
      task = nullptr;
      std::unique_lock<std::mutex> lock(mutex_);
      ++idle_;
      bool handed = task_ready_.wait_for(lock, kIdleLimit, [this] { return !tasks_.empty(); });
      --idle_;
      if (!handed) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
  }

  std::mutex mutex_;
  std::condition_variable task_ready_;
  std::deque<std::function<void()>> tasks_;  // handed over, not yet taken by an idle worker
  std::size_t idle_ = 0;                     // workers waiting for a step
};

WorkerPool& Workers() {
  // Never destroyed: idle workers may still wait on it while the process ends.
  static auto* pool = new WorkerPool;
  return *pool;
}

}  // namespace

WorkerOutcome RunOnWorker(std::shared_ptr<std::function<void()>> step,
                          unsigned long timeout_ms) {
  if (!step || !*step) return WorkerOutcome::kFailed;
  auto completion = std::make_shared<Completion>();
  bool started = false;
  try {
    started = Workers().Run([step, completion]() mutable {
      try {
        (*step)();
      } catch (...) {
        // The step reports its own outcome; a fault escaping it must not end the process.
      }
      step.reset();  // the caller sees the step released once it is told "finished"
      {
        std::lock_guard<std::mutex> lock(completion->mutex);
        completion->done = true;
      }
      completion->done_changed.notify_all();  // shared: alive even if the caller is gone
    });
  } catch (const std::bad_alloc&) {
    return WorkerOutcome::kFailed;
  }
  if (!started) return WorkerOutcome::kFailed;
  std::unique_lock<std::mutex> lock(completion->mutex);
  auto finished = [&completion] { return completion->done; };
  if (timeout_ms >= kInfinite) {
    completion->done_changed.wait(lock, finished);
    return WorkerOutcome::kFinished;
  }
  return completion->done_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), finished)
             ? WorkerOutcome::kFinished
             : WorkerOutcome::kTimedOut;
}

}  // namespace vemtu::platform
