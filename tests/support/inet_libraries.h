// Arranging the stand-in WinHTTP libraries in an agent folder (Linux builds): the
// folder that InstallAgent fills holds libWinHttp.so and libWinHttpNoCheck.so.
#pragma once

#include <string>

namespace vemtu::test {

// Leaves only the fall-back library in `folder`: libWinHttp.so is removed and the copy
// without WinHttpCheckPlatform becomes libWinHttp5.so ("WinHttp5.dll" to the agent).
// `bin` is where the built libraries are (VEMTU_BIN); false when a file is missing.
bool ProvideOnlyWinHttp5(const std::string& folder, const std::string& bin);

// Removes every WinHTTP stand-in from `folder`, so that binding WinHTTP fails.
void RemoveWinHttp(const std::string& folder);

}  // namespace vemtu::test
