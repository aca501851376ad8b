#include <sys/stat.h>
#include <unistd.h>

#include "folder_state.h"

namespace vemtu::check {

FolderState InspectFolder(const std::string& path) {
  FolderState state;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return state;
  state.is_link = S_ISLNK(info.st_mode);
  state.exists = state.is_link || S_ISDIR(info.st_mode);
  state.writable = S_ISDIR(info.st_mode) && ::access(path.c_str(), W_OK | X_OK) == 0;
  return state;
}

}  // namespace vemtu::check
