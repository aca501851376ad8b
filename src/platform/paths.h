// Where the program lives and how paths are spelled on this platform.
#pragma once

#include <string>
#include <string_view>

namespace vemtu::platform {

// The separator between path components: '\' on Windows, '/' on Linux.
extern const char kPathSeparator;

// Full path of the running executable (empty when it cannot be read).
std::string ExecutablePath();

// `path` with every '\' replaced by the platform's separator, so that fixed texts such as
// "\ApplicationLog\WebPost\WebPostExe" can be written once for both platforms.
std::string NativePath(std::string_view path);

// A path handed in by a caller with either separator, spelled with the platform's own:
// '/' becomes '\' on Windows; on Linux the path is unchanged, since a '\' there is an
// ordinary byte of a file name (a name found on disk may hold one).
std::string OwnSeparators(std::string path);

// Makes `folder` the process's current folder.
bool SetCurrentFolder(const std::string& folder);

}  // namespace vemtu::platform
