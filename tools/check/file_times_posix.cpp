#include <sys/stat.h>

#include "file_times.h"

namespace vemtu::check {

FileTimes ReadFileTimes(const std::string& path) {
  FileTimes times;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return times;
  times.ok = true;
  times.written = static_cast<std::int64_t>(info.st_mtim.tv_sec);
  times.changed = static_cast<std::int64_t>(info.st_ctim.tv_sec);
  return times;
}

}  // namespace vemtu::check
