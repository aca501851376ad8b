#include "platform/paths.h"

#include <limits.h>
#include <unistd.h>

namespace vemtu::platform {

const char kPathSeparator = '/';

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string NativePath(std::string_view path) {
  std::string result(path);
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}

bool SetCurrentFolder(const std::string& folder) { return chdir(folder.c_str()) == 0; }

}  // namespace vemtu::platform
