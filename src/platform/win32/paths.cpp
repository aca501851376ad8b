// Where the program lives: GetModuleFileNameW, accepted only when the system code page
// spells it exactly.
#include "platform/paths.h"

#include <windows.h>

#include <vector>

#include "platform/win32/long_path.h"

namespace vemtu::platform {

const char kPathSeparator = '\\';

namespace {

std::wstring WideExecutablePath() {
  // The buffer grows until the whole path fits: a path cut by a short buffer would put
  // every derived folder in the wrong place.
  for (DWORD size = MAX_PATH + 1; size <= 0x10000; size *= 2) {
    std::vector<wchar_t> buffer(size, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (n == 0) return {};
    if (n < size) return std::wstring(buffer.data(), n);
  }
  return {};
}

}  // namespace

ExecutablePathState ReadExecutablePath(std::string& path) {
  path.clear();
  const std::wstring wide = WideExecutablePath();
  if (wide.empty()) return ExecutablePathState::kUnreadable;
  std::optional<std::string> ansi = win32_detail::ExactAnsi(wide);
  if (!ansi) return ExecutablePathState::kNotInCodePage;
  path = std::move(*ansi);
  return ExecutablePathState::kExact;
}

std::string ExecutablePath() {
  std::string path;
  ReadExecutablePath(path);
  return path;
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
