// The one log-line writer and the locked appender that every part of the agent uses,
// with a run log or a transfer log as the target.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace vemtu {

// Event codes of the log lines.
constexpr int kEventProgress = 9999;  // driver lines, posting lines, transport progress
constexpr int kEventError = 0;        // transport error lines

// A log file larger than this at the moment of a write is renamed "<name>.1" (replacing
// the one before) and started afresh.
constexpr long long kLogSizeLimit = 2097152;  // 0x200000
// How long an append waits for the log file's lock.
constexpr unsigned long kLogLockWaitMs = 300000;
// Longest log path a line is written to; longer paths are cut.
constexpr std::size_t kLogPathMaxChars = 359;

// The current local time as "%m/%d/%Y %I:%M:%S %p"; empty when it cannot be read.
std::string FormatLogTimestamp();
// The same for a given local time.
std::string FormatLogTimestamp(const platform::LocalTime& time);

// Formats one line of ten TAB-ended fields and CR LF and appends it to `log_path`.
// Absent (nullptr) texts are empty fields. Never fails the caller: returns whether the
// line was written (its lock had, its file opened and the whole line put), which a caller
// that must not act without a record examines.
bool WriteLogEntry(const std::string& log_path, int event_code, int error_number,
                   const char* message = nullptr, const char* detail1 = nullptr,
                   const char* detail2 = nullptr, const char* detail3 = nullptr);

// The line WriteLogEntry writes, without the timestamp lookup: `timestamp` is field 1
// and `error_text` field 7.
std::string FormatLogLine(std::string_view timestamp, int event_code, int error_number,
                          std::string_view message, std::string_view error_text,
                          std::string_view detail1, std::string_view detail2,
                          std::string_view detail3);

// `text` as one log field: a backslash is written "\\", CR "\r", LF "\n", TAB "\t" and
// every other control byte "\xHH", so that it can neither end the line nor add fields.
std::string EscapeLogField(std::string_view text);

// A path as one log field. Where a file name can hold control bytes and backslashes
// (Linux), it is escaped as EscapeLogField does; where the backslash is the separator
// (Windows), names cannot hold control bytes and the path is written as it is.
std::string LoggablePath(std::string_view path);

// Appends `text` to the file under the file's named lock (five-minute wait), creating
// the folder when the file is missing and restarting a file larger than 2,097,152 bytes
// (the old text kept as "<path>.1").
bool AppendLogText(const std::string& path, std::string_view text);

// Runs `work` while holding the named lock of the log file `path`, the lock every line
// written to it takes (same wait). False when the lock could not be had; otherwise what
// `work` returns.
bool WithLogLock(const std::string& path, const std::function<bool()>& work);

// The name of the lock that guards the log file `path`: the path with every separator
// and ":" replaced by "-", so it keeps the path's length.
std::string LogLockName(std::string_view path);

// Creates every folder along `path`, ignoring failures (existing folders included).
void CreateDirectoryPath(const std::string& path);

}  // namespace vemtu
