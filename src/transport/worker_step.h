// One blocking network step of a connection, run on a worker thread of its own and
// waited for with a time-out.
#pragma once

#include <cstdint>
#include <functional>

namespace vemtu {

// The longest wait for one worker: ten minutes.
constexpr unsigned long kWorkerTimeoutMs = 600000;

// What a step that did not complete records: the worker could not be started (the
// system's code), or it overran (ERROR_INTERNET_TIMEOUT, so that the log line names
// the cause instead of whatever the waiting thread's error slot happened to hold).
constexpr std::uint32_t kErrorStepTimedOut = 12002;

// Runs `step` on a worker and waits at most `timeout_ms`. True when it completed; false
// with `error` set when it could not be started or overran. A worker that overran is
// left to finish on its own (the caller ends its blocked call by closing the handles it
// uses); `step` owns, through shared pointers, everything that worker can still touch.
bool RunWorkerStep(std::function<void()> step, unsigned long timeout_ms, std::uint32_t& error);

}  // namespace vemtu
