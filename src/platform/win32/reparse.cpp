#include "platform/win32/reparse.h"

namespace vemtu::platform::win32_detail {

bool FolderIsPlain(const std::string& path) {
  std::string::size_type cut = path.find_last_of("\\/");
  if (cut == std::string::npos || cut == 0) return true;
  std::string folder = path.substr(0, cut);
  if (folder.back() == ':') return true;  // a drive's root
  if (IsReparsePoint(GetFileAttributesA(folder.c_str()))) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  return true;
}

}  // namespace vemtu::platform::win32_detail
