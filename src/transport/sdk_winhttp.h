// The WinHTTP declarations the WinHTTP connection is written against: the system's on
// Windows, the Linux stand-in's elsewhere. Include this in the WinHTTP connection only:
// the WinINet and WinHTTP declarations do not go together in one translation unit.
#pragma once

#if defined(_WIN32)
#include <windef.h>
#include <winbase.h>
#endif
#include <winhttp.h>

#include "transport/sdk_step_timeout.h"

namespace vemtu {

// The WinHttpSetOption that the executable imports at load time, through which the
// per-request proxy option is set; none where the library is only bound at run time (the
// Linux stand-in), and the bound entry serves instead.
inline decltype(&::WinHttpSetOption) ImportedSetOption() {
#if defined(_WIN32)
  return &::WinHttpSetOption;
#else
  return nullptr;
#endif
}

}  // namespace vemtu
