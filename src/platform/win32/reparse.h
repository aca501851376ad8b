// Reparse points (junctions, symbolic links) as the file and profile backends refuse them.
#pragma once

#include <windows.h>

#include <string>

namespace vemtu::platform::win32_detail {

inline bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// False (with ERROR_CANT_ACCESS_FILE set) when the folder that holds `path` is a reparse
// point; a path without a folder, or in a drive's root, passes.
bool FolderIsPlain(const std::string& path);

}  // namespace vemtu::platform::win32_detail
