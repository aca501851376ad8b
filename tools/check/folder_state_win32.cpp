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
  HANDLE listing = CreateFileA(
      path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (listing != INVALID_HANDLE_VALUE) {
    state.readable = true;
    CloseHandle(listing);
  }
  return state;
}

DiskState InspectDisk(const std::string& folder) {
  DiskState disk;
  ULARGE_INTEGER free_to_caller{}, total{}, free_total{};
  if (!GetDiskFreeSpaceExA((folder + "\\").c_str(), &free_to_caller, &total, &free_total))
    return disk;
  disk.known = true;
  disk.free_bytes = free_to_caller.QuadPart;
  // A read-only volume is not looked for: asking for the volume's flags opens the volume
  // device, which a user without that right is refused (wine says so on standard error).
  // Such a volume shows as a folder runs cannot write to.
  return disk;
}

EntryKind KindOf(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kMissing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::kLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::kFolder;
  return (attributes & FILE_ATTRIBUTE_DEVICE) ? EntryKind::kOther : EntryKind::kFile;
}

// Windows files carry an access list, not an owner and mode a chown would fix.
FileOwner OwnerOf(const std::string&) { return {}; }

}  // namespace vemtu::check
