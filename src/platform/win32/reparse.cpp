#include "platform/win32/reparse.h"

#include "platform/win32/long_path.h"

namespace vemtu::platform::win32_detail {

bool IsDataReparseTag(DWORD tag) {
  // The cloud-file tags differ from IO_REPARSE_TAG_CLOUD in the four bits of the mask only.
  const DWORD cloud_mask = static_cast<DWORD>(IO_REPARSE_TAG_CLOUD_MASK);
  return tag == static_cast<DWORD>(IO_REPARSE_TAG_DEDUP) ||
         tag == static_cast<DWORD>(IO_REPARSE_TAG_WOF) ||
         (tag & ~cloud_mask) == static_cast<DWORD>(IO_REPARSE_TAG_CLOUD);
}

HandleKind KindOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
  info = {};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)) {
    return HandleKind::kRefused;
  }
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return folder ? HandleKind::kFolder : HandleKind::kFile;
  }
  if (folder) return HandleKind::kRefused;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
    return HandleKind::kRefused;
  }
  return IsDataReparseTag(tag.ReparseTag) ? HandleKind::kDataFile : HandleKind::kRefused;
}

bool FolderIsPlain(const std::string& path) {
  std::string::size_type cut = path.find_last_of("\\/");
  if (cut == std::string::npos || cut == 0) return true;
  std::string folder = path.substr(0, cut);
  if (folder.back() == ':') return true;  // a drive's root
  std::optional<std::wstring> wide = LongPath(folder);
  if (!wide) return false;
  if (IsReparsePoint(GetFileAttributesW(wide->c_str()))) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  return true;
}

}  // namespace vemtu::platform::win32_detail
