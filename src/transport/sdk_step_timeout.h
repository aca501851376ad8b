// The request option by which the network library bounds a whole send, where it has one:
// the Linux stand-ins run their transfers on the calling thread and block nowhere else,
// so the connections run their steps there too. 0 where the library has no such option:
// each blocking step then runs on a worker of its own, waited for with the time-out.
// Include after the library's declarations (sdk_wininet.h, sdk_winhttp.h).
#pragma once

#include <cstdint>

namespace vemtu {

#if defined(VEMTU_OPTION_STEP_TIMEOUT)
constexpr std::uint32_t kStepTimeoutOption = VEMTU_OPTION_STEP_TIMEOUT;
#else
constexpr std::uint32_t kStepTimeoutOption = 0;
#endif

}  // namespace vemtu
