#include "platform/paths.h"

#include <windows.h>

namespace vemtu::platform {

const char kPathSeparator = '\\';

std::string ExecutablePath() {
  char buffer[MAX_PATH + 1];
  DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string(buffer, n);
  return std::string(buffer, n);
}

std::string NativePath(std::string_view path) { return std::string(path); }

bool SetCurrentFolder(const std::string& folder) {
  return SetCurrentDirectoryA(folder.c_str()) != 0;
}

}  // namespace vemtu::platform
