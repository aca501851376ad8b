#include "transport/worker_step.h"

#include <memory>

#include "platform/errors.h"
#include "platform/worker.h"

namespace vemtu {

bool RunWorkerStep(std::function<void()> step, unsigned long timeout_ms, std::uint32_t& error) {
  auto shared = std::make_shared<std::function<void()>>(std::move(step));
  switch (platform::RunOnWorker(std::move(shared), timeout_ms)) {
    case platform::WorkerOutcome::kFinished:
      return true;
    case platform::WorkerOutcome::kTimedOut:
      error = kErrorStepTimedOut;
      return false;
    case platform::WorkerOutcome::kFailed:
      error = static_cast<std::uint32_t>(platform::LastError());
      return false;
  }
  return false;
}

}  // namespace vemtu
