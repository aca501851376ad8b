// Running one blocking step on a worker thread with a time-out.
#pragma once

#include <functional>
#include <memory>

namespace vemtu::platform {

enum class WorkerOutcome {
  kFinished,   // the step ran to its end within the time-out
  kTimedOut,   // the step overran; the worker was abandoned and finishes on its own
  kFailed,     // no worker could be started
};

// Runs `step` on a worker thread of its own (Windows starts one per step; Linux may reuse
// an idle one, never one still busy with an abandoned step) and waits at most
// `timeout_ms` for it. The step is
// shared-owned: a worker abandoned after a time-out keeps what it uses alive until it
// finishes, so nothing is freed under it.
WorkerOutcome RunOnWorker(std::shared_ptr<std::function<void()>> step,
                          unsigned long timeout_ms);

}  // namespace vemtu::platform
