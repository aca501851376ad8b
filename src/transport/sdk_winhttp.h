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
