// Error numbers and their texts, translated at the platform boundary.
#pragma once

#include <string>

namespace vemtu::platform {

// Error number of the last failing platform call of this thread (Windows: GetLastError;
// Linux: errno, or the 12xxx code the inet stand-ins set).
int LastError();
void SetLastError(int code);

// The text for `code`: the system's message table first, then the WinHTTP message table
// when that library is loaded in the process, then the WinINet table when that one is.
// The line break that ends such texts is cut (the last LF, then the last CR). Empty when
// no table has a text.
std::string ErrorText(int code);

}  // namespace vemtu::platform
