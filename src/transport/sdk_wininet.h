// The WinINet declarations the WinINet connection is written against: the system's on
// Windows, the Linux stand-in's elsewhere. Include this in the WinINet connection only:
// the WinINet and WinHTTP declarations do not go together in one translation unit.
#pragma once

#if defined(_WIN32)
#include <windef.h>
#include <winbase.h>
#endif
#include <wininet.h>

#include "transport/sdk_step_timeout.h"
