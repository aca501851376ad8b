// One blocking step on a worker thread, waited for with a time-out; a late worker is
// ended with TerminateThread.
#include "platform/worker.h"

#include <windows.h>

#include <new>

namespace vemtu::platform {

namespace {

using Step = std::shared_ptr<std::function<void()>>;

// How long to wait for a terminated worker to be gone: TerminateThread only asks for
// the end, and the worker must not run on after RunOnWorker has returned.
constexpr DWORD kTerminationWaitMs = 5000;

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
  // The worker gets its own heap copy of the step's shared pointer, and the caller's
  // `step` stays alive on this side for the whole wait. When the worker is terminated,
  // its copy is deliberately leaked: the thread may have been stopped anywhere, even
  // half way through `delete own` or through the reference-count decrement, so deleting
  // it from here could free the step twice. Leaking one control-block reference keeps
  // the step's objects alive for the rest of the process, which is the safe side.
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
  if (WaitForSingleObject(thread, timeout_ms) == WAIT_OBJECT_0) {
    CloseHandle(thread);
    return WorkerOutcome::kFinished;
  }
  // Timed out (or the wait itself failed): the step did not finish in time.
  if (TerminateThread(thread, ERROR_TIMEOUT)) WaitForSingleObject(thread, kTerminationWaitMs);
  CloseHandle(thread);
  ::SetLastError(ERROR_TIMEOUT);
  return WorkerOutcome::kTimedOut;
}

}  // namespace vemtu::platform
