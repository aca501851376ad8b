#include "log_reader.h"

#include <cstdlib>
#include <ctime>

#include "platform/files.h"

namespace vemtu::check {

namespace {

constexpr std::size_t kFields = 10;

// `text` as a signed decimal number; false when it is anything else.
bool ParseSigned(std::string_view text, long long& value) {
  if (text.empty() || text.size() > 20) return false;
  std::size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  long long magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (magnitude > (0x7FFFFFFFFFFFFFFFLL - 9) / 10) return false;
    magnitude = magnitude * 10 + (text[i] - '0');
  }
  value = text[0] == '-' ? -magnitude : magnitude;
  return true;
}

// Two or four digits at `at`; -1 when not digits.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool ParseLine(std::string_view line, LogEntry& entry) {
  if (line.empty() || line.back() != '\t') return false;
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t tab = line.find('\t'); tab != std::string_view::npos;
       tab = line.find('\t', start)) {
    parts.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  if (parts.size() < kFields) return false;
  long long event = 0, fixed = 0;
  if (!ParseSigned(parts[1], event) || !parts[2].empty() || !ParseSigned(parts[3], entry.error) ||
      !ParseSigned(parts[4], fixed) || fixed != 0 || event < -2147483647LL - 1 ||
      event > 2147483647LL)
    return false;
  entry.time = ParseLogStamp(parts[0]);
  if (entry.time < 0 && !parts[0].empty()) return false;
  entry.stamp = std::string(parts[0]);
  entry.event = static_cast<int>(event);
  // A message holding a TAB ("ERR\tWinHTTP.ZHTTPWebPost") spreads over more columns.
  const std::size_t extra = parts.size() - kFields;
  entry.message = std::string(parts[5]);
  for (std::size_t i = 1; i <= extra; ++i) entry.message += "\t" + std::string(parts[5 + i]);
  entry.error_text = std::string(parts[6 + extra]);
  entry.detail1 = std::string(parts[7 + extra]);
  entry.detail2 = std::string(parts[8 + extra]);
  entry.detail3 = std::string(parts[9 + extra]);
  return true;
}

}  // namespace

std::int64_t ParseLogStamp(std::string_view s) {
  // MM/DD/YYYY hh:mm:ss AM
  if (s.size() != 22 || s[2] != '/' || s[5] != '/' || s[10] != ' ' || s[13] != ':' ||
      s[16] != ':' || s[19] != ' ' || s[21] != 'M' || (s[20] != 'A' && s[20] != 'P'))
    return -1;
  int month = Digits(s, 0, 2), day = Digits(s, 3, 2), year = Digits(s, 6, 4);
  int hour = Digits(s, 11, 2), minute = Digits(s, 14, 2), second = Digits(s, 17, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31 || year < 1970 || hour < 1 || hour > 12 ||
      minute < 0 || minute > 59 || second < 0 || second > 60)
    return -1;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour % 12 + (s[20] == 'P' ? 12 : 0);
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  return t == static_cast<std::time_t>(-1) ? -1 : static_cast<std::int64_t>(t);
}

std::string FormatStamp(std::int64_t seconds) {
  if (seconds < 0) return {};
  std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* tm = std::localtime(&t);
  char text[32] = {};
  if (!tm || std::strftime(text, sizeof text, "%m/%d/%Y %I:%M:%S %p", tm) == 0) return {};
  return text;
}

std::vector<LogEntry> ParseLogText(std::string_view text) {
  std::vector<LogEntry> entries;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    LogEntry entry;
    if (ParseLine(line, entry)) entries.push_back(std::move(entry));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return entries;
}

std::string ReadLogTail(const std::string& path, std::size_t max_bytes) {
  platform::File file = platform::File::Open(path, platform::OpenMode::kReadExisting);
  if (!file.IsOpen()) return {};
  long long size = file.Size();
  if (size < 0) return {};
  if (static_cast<unsigned long long>(size) > max_bytes) {
    if (!file.SeekTo(static_cast<std::uint64_t>(size) - max_bytes)) return {};
    size = static_cast<long long>(max_bytes);
  }
  std::string text(static_cast<std::size_t>(size), '\0');
  std::size_t have = 0;
  while (have < text.size()) {
    long long got = file.Read(&text[have], text.size() - have);
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
  text.resize(have);
  return text;
}

}  // namespace vemtu::check
