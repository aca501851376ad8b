// What the check needs to know of a folder that the agent writes into.
#pragma once

#include <string>

namespace vemtu::check {

struct FolderState {
  bool exists = false;
  bool is_link = false;   // a symbolic link (Linux) or a reparse point (Windows)
  bool writable = false;  // this user may create files in it
};

// Looks at `path` without following a link and without writing anything.
FolderState InspectFolder(const std::string& path);

}  // namespace vemtu::check
