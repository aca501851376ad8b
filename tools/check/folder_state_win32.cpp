#include <windows.h>

#include "folder_state.h"

namespace vemtu::check {

FolderState InspectFolder(const std::string& path) {
  FolderState state;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return state;
  state.is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  state.exists = state.is_link || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return state;
  // Opening the folder for adding files asks the system for exactly that right, without
  // creating anything.
  HANDLE folder = CreateFileA(
      path.c_str(), FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder != INVALID_HANDLE_VALUE) {
    state.writable = true;
    CloseHandle(folder);
  }
  return state;
}

}  // namespace vemtu::check
