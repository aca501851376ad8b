// Reading the agent's logs back: one line is ten TAB-ended fields and CR LF, and a
// transfer log also holds raw copies of the posted files between its lines, so anything
// that does not parse as a line is passed over.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vemtu::check {

struct LogEntry {
  std::string stamp;     // field 1 as written, "MM/DD/YYYY hh:mm:ss AM"
  std::int64_t time = -1;  // the stamp as seconds since 1970 (local time); -1 when unreadable
  int event = 0;         // 9999 progress, 0 transport error
  long long error = 0;   // the error number
  std::string message;   // "ERR\tWinHTTP.ZHTTPWebPost" keeps its TAB
  std::string error_text;
  std::string detail1, detail2, detail3;
};

// Every line of `text` that reads as a log line, in file order.
std::vector<LogEntry> ParseLogText(std::string_view text);

// "MM/DD/YYYY hh:mm:ss AM|PM" as seconds since 1970, the stamp taken as local time;
// -1 when it is not such a stamp.
std::int64_t ParseLogStamp(std::string_view stamp);

// The reverse, for showing times: local time as the logs write it.
std::string FormatStamp(std::int64_t seconds);

// Up to the last `max_bytes` of the file at `path` (a log grows to 2 MiB and restarts);
// empty when it cannot be read. Opens nothing but that file, for reading.
std::string ReadLogTail(const std::string& path, std::size_t max_bytes);

}  // namespace vemtu::check
