#include "platform/paths.h"

#include <limits.h>
#include <unistd.h>

#include <vector>

namespace vemtu::platform {

const char kPathSeparator = '/';

ExecutablePathState ReadExecutablePath(std::string& path) {
  path = ExecutablePath();
  return path.empty() ? ExecutablePathState::kUnreadable : ExecutablePathState::kExact;
}


std::string ExecutablePath() {
  // readlink does not say whether it cut the path: grow the buffer until it fits.
  for (std::size_t size = PATH_MAX; size <= 16 * PATH_MAX; size *= 2) {
    std::vector<char> buffer(size);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
  }
  return {};
}

std::string NativePath(std::string_view path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

std::string OwnSeparators(std::string path) { return path; }

bool SetCurrentFolder(const std::string& folder) { return chdir(folder.c_str()) == 0; }

}  // namespace vemtu::platform
