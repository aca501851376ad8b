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
  std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return false;
  // Every folder from the one below the volume's root ("\\?\C:\" or
  // "\\?\UNC\server\share\", which Wine shows as a link) down to the one that holds `path`.
  std::size_t level = 6;
  if (wide->compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    level = wide->find(L'\\', wide->find(L'\\', 8) + 1);
  } else if (wide->size() < 7 || (*wide)[5] != L':') {
    return true;  // a verbatim path of another form: nothing to walk
  }
  if (level == std::wstring::npos) return true;
  const std::size_t last = wide->rfind(L'\\');
  for (std::size_t at = wide->find(L'\\', level + 1); at != std::wstring::npos && at <= last;
       at = wide->find(L'\\', at + 1)) {
    if (IsReparsePoint(GetFileAttributesW(wide->substr(0, at).c_str()))) {
      ::SetLastError(ERROR_CANT_ACCESS_FILE);
      return false;
    }
  }
  return true;
}

}  // namespace vemtu::platform::win32_detail
