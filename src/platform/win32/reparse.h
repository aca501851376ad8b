// Reparse points as the file, listing and profile backends judge them. A link (symbolic
// link, junction or mount point) or a reparse point of a tag not known here is never
// followed, entered or written through. A data reparse point (deduplication, WOF
// compression, cloud-file placeholder) keeps a file's own data behind a filter of the
// system; such a file is read as a plain one, through a handle that lets the filter act.
#pragma once

#include <windows.h>

#include <string>

namespace vemtu::platform::win32_detail {

inline bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// True for the tags of data reparse points: deduplication, WOF, and the cloud-file tag
// with each of its sixteen variants. False for links and every other tag.
bool IsDataReparseTag(DWORD tag);

// What a handle opened with FILE_FLAG_OPEN_REPARSE_POINT names.
enum class HandleKind {
  kFile,      // a regular disk file
  kDataFile,  // a regular disk file behind a data reparse point: to read or write its
              // data, open it again without FILE_FLAG_OPEN_REPARSE_POINT
  kFolder,    // a folder that is no reparse point
  kRefused,   // a link or other reparse point, a pipe or device, or unreadable
};

// The kind of `handle`, with its information in `info` (read once for the caller).
HandleKind KindOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info);

// False (with ERROR_CANT_ACCESS_FILE set) when a folder on the way to `path` (any level
// below the volume's root) is a reparse point, or the path cannot be made a long one.
bool FolderIsPlain(const std::string& path);

}  // namespace vemtu::platform::win32_detail
