// When a file in the agent folder was written and when it last changed place: a retry
// rename or a move into Error keeps the write time, but not the change time.
#pragma once

#include <cstdint>
#include <string>

namespace vemtu::check {

struct FileTimes {
  bool ok = false;
  std::int64_t written = -1;  // last write, seconds since 1970
  std::int64_t changed = -1;  // last change of name or place (Linux: ctime; Windows:
                              // the change time), seconds since 1970
};

// Looks at `path` without following a link.
FileTimes ReadFileTimes(const std::string& path);

}  // namespace vemtu::check
