// What the check needs to know of a folder that the agent writes into.
#pragma once

#include <cstdint>
#include <string>

namespace vemtu::check {

struct FolderState {
  bool exists = false;
  bool is_link = false;   // a symbolic link (Linux) or a reparse point (Windows)
  bool writable = false;  // this user may create files in it
  bool readable = false;  // this user may list it
};

// The room on the disk that holds a folder.
struct DiskState {
  bool known = false;           // false: the system would not say
  std::uint64_t free_bytes = 0;  // free to an unprivileged user
  bool read_only = false;       // mounted (or marked) read-only
};

enum class EntryKind {
  kMissing,  // nothing of that name
  kFile,     // a regular file
  kFolder,   // a folder that is not a link
  kLink,     // a symbolic link or a reparse point
  kOther,    // a FIFO, a socket, a device
};

// Who may read a file, for advice that names the command that changes it.
struct FileOwner {
  bool known = false;  // false where the system has no such owner and mode (Windows)
  std::string user, group;
  unsigned mode = 0;  // the permission bits
};

// Looks at `path` without following a link and without writing anything.
FolderState InspectFolder(const std::string& path);
DiskState InspectDisk(const std::string& folder);
EntryKind KindOf(const std::string& path);
FileOwner OwnerOf(const std::string& path);

}  // namespace vemtu::check
