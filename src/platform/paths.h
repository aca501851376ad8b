// Where the program lives and how paths are spelled on this platform.
#pragma once

#include <string>
#include <string_view>

namespace vemtu::platform {

// The separator between path components: '\' on Windows, '/' on Linux.
extern const char kPathSeparator;

// Whether the running executable's full path can name the agent's folder.
enum class ExecutablePathState {
  kExact,          // read, and spelled exactly in the system code page
  kUnreadable,     // the system gave no path
  kNotInCodePage,  // a character of the path has no exact spelling in the system code page:
                   // any spelling of it would name another folder (or none)
};

// Exit code of a run that ends because its path is kNotInCodePage: it has nowhere safe to
// log, so the code is the only sign (every other run ends with 0).
constexpr int kExitPathNotInCodePage = 3;

// Reads the running executable's full path into `path` (empty unless kExact). Windows
// reads it wide and accepts it only when it converts to the system code page and back
// unchanged, without best-fit substitutes (a fullwidth "Ｖ" must not become the "V" of a
// folder someone else may have made).
ExecutablePathState ReadExecutablePath(std::string& path);

// Full path of the running executable (empty when it is not kExact).
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
