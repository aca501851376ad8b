// One blocking step on a worker thread, waited for with a time-out. A late worker is
// abandoned, never terminated: a thread cut off inside the network library or the heap
// could leave a lock held that the next call of this process would wait on for ever.
// The caller ends the late step instead, by closing the handles it blocks on.
#include "platform/worker.h"

#include <windows.h>

#include <new>

namespace vemtu::platform {

namespace {

using Step = std::shared_ptr<std::function<void()>>;

DWORD WINAPI WorkerMain(LPVOID parameter) {
  Step* own = static_cast<Step*>(parameter);
  try {
    if (*own && **own) (**own)();
  } catch (...) {
    // A fault in the step ends the step, not the process.
  }
  delete own;
  return 0;
}

}  // namespace

WorkerOutcome RunOnWorker(Step step, unsigned long timeout_ms) {
  // The worker gets its own heap copy of the step's shared pointer: an abandoned worker
  // keeps the step's objects alive until it ends, and frees its copy then.
  Step* own = new (std::nothrow) Step(step);
  if (own == nullptr) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return WorkerOutcome::kFailed;
  }
  HANDLE thread = CreateThread(nullptr, 0, WorkerMain, own, 0, nullptr);
  if (thread == nullptr) {
    DWORD error = GetLastError();
    delete own;
    ::SetLastError(error);
    return WorkerOutcome::kFailed;
  }
  const bool finished = WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0;
  CloseHandle(thread);  // the thread runs on without its handle when it was late
  if (finished) return WorkerOutcome::kFinished;
  ::SetLastError(ERROR_TIMEOUT);
  return WorkerOutcome::kTimedOut;
}

}  // namespace vemtu::platform
