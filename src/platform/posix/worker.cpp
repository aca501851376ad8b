// A step on a worker thread, waited for with a time-out. Linux cannot end a thread from
// outside, so an overrunning worker is left to finish on its own: it holds the step and
// the shared wait state, and the caller's return frees nothing it still uses.
#include "platform/worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace vemtu::platform {
namespace {

struct Completion {
  std::mutex mutex;
  std::condition_variable done_changed;
  bool done = false;
};

constexpr unsigned long kInfinite = 0xFFFFFFFFUL;

}  // namespace

WorkerOutcome RunOnWorker(std::shared_ptr<std::function<void()>> step,
                          unsigned long timeout_ms) {
  if (!step || !*step) return WorkerOutcome::kFailed;
  auto completion = std::make_shared<Completion>();
  try {
    std::thread([step, completion]() mutable {
      try {
        (*step)();
      } catch (...) {
        // The step reports its own outcome; a fault escaping it must not end the process.
      }
      step.reset();  // the caller sees the step released once it is told "finished"
      std::lock_guard<std::mutex> lock(completion->mutex);
      completion->done = true;
      completion->done_changed.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return WorkerOutcome::kFailed;
  }
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
