// Formatting of one log line: ten TAB-ended fields and CR LF.
#include <cstddef>
#include <new>

#include "common/fixed_text.h"
#include "log/log_writer.h"
#include "platform/errors.h"

namespace vemtu {

namespace {

// Appends `value` with at least `width` digits (leading zeros).
void AppendPadded(std::string& out, int value, int width) {
  char digits[12];
  int n = 0;
  unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 && n < 11);
  while (n < width) digits[n++] = '0';
  while (n > 0) out += digits[--n];
}

// Signed decimal, the full 32-bit range included.
void AppendSigned(std::string& out, int value) {
  long long v = value;
  if (v < 0) {
    out += '-';
    v = -v;
  }
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) out += digits[--n];
}

std::string_view OrEmpty(const char* text) { return text ? std::string_view(text) : std::string_view(); }

}  // namespace

std::string FormatLogTimestamp() {
  platform::LocalTime now{};
  if (!platform::GetLocalTime(now)) return {};
  return FormatLogTimestamp(now);
}

std::string FormatLogTimestamp(const platform::LocalTime& now) {
  int hour12 = now.hour % 12;
  if (hour12 == 0) hour12 = 12;
  std::string out;
  out.reserve(24);
  AppendPadded(out, now.month, 2);
  out += '/';
  AppendPadded(out, now.day, 2);
  out += '/';
  AppendPadded(out, now.year, 4);
  out += ' ';
  AppendPadded(out, hour12, 2);
  out += ':';
  AppendPadded(out, now.minute, 2);
  out += ':';
  AppendPadded(out, now.second, 2);
  out += now.hour < 12 ? " AM" : " PM";
  return std::string(CutText(out, 50));
}

std::string FormatLogLine(std::string_view timestamp, int event_code, int error_number,
                          std::string_view message, std::string_view error_text,
                          std::string_view detail1, std::string_view detail2,
                          std::string_view detail3) {
  std::string line;
  line.reserve(timestamp.size() + message.size() + error_text.size() + detail1.size() +
               detail2.size() + detail3.size() + 48);
  line += timestamp;
  line += '\t';
  AppendSigned(line, event_code);
  line += "\t\t";  // field 3 is always empty
  AppendSigned(line, error_number);
  line += "\t0\t";  // field 5 is always "0"
  line += message;
  line += '\t';
  line += error_text;
  line += '\t';
  line += detail1;
  line += '\t';
  line += detail2;
  line += '\t';
  line += detail3;
  line += "\t\r\n";
  return line;
}

bool WriteLogEntry(const std::string& log_path, int event_code, int error_number,
                   const char* message, const char* detail1, const char* detail2,
                   const char* detail3) {
  try {
    std::string path(CutText(log_path, kLogPathMaxChars));
    std::string timestamp = FormatLogTimestamp();
    // The error tables are consulted only when there is an error to describe.
    std::string error_text = error_number != 0 ? platform::ErrorText(error_number) : std::string();
    std::string line = FormatLogLine(timestamp, event_code, error_number, OrEmpty(message),
                                     error_text, OrEmpty(detail1), OrEmpty(detail2),
                                     OrEmpty(detail3));
    return AppendLogText(path, line);
  } catch (const std::bad_alloc&) {
    return false;  // no room for the line: it is lost
  } catch (...) {
    return false;
  }
}

}  // namespace vemtu
