// Where the program lives, through GetModuleFileNameA.
#include "platform/paths.h"

#include <windows.h>

#include <vector>

namespace vemtu::platform {

const char kPathSeparator = '\\';

std::string ExecutablePath() {
  // The buffer grows until the whole path fits: a path cut by a short buffer would put
  // every derived folder in the wrong place.
  for (DWORD size = MAX_PATH + 1; size <= 0x10000; size *= 2) {
    std::vector<char> buffer(size, '\0');
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), size);
    if (n == 0) return {};
    if (n < size) return std::string(buffer.data(), n);
  }
  return {};
}

std::string NativePath(std::string_view path) { return std::string(path); }

std::string OwnSeparators(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool SetCurrentFolder(const std::string& folder) {
  return SetCurrentDirectoryA(folder.c_str()) != 0;
}

}  // namespace vemtu::platform
