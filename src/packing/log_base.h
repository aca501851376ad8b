// The diagnostic record of one document: the context of each operation and the failure
// texts met inside it. Nothing in the agent reads it back; tests and tools do.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vemtu::packing {

class LogBase {
 public:
  // Entries past this count are dropped, so junk input cannot grow the record without end.
  static constexpr std::size_t kMaxEntries = 256;

  void EnterContext(std::string_view name);
  void LeaveContext();
  // A failure text, recorded under the current context.
  void LogError(std::string_view text);
  // A named value that goes with the last failure text.
  void LogData(std::string_view name, std::string_view value);

  const std::vector<std::string>& entries() const { return entries_; }
  // True when some entry contains `text`.
  bool Contains(std::string_view text) const;

 private:
  void Add(std::string entry);
  std::vector<std::string> contexts_;
  std::vector<std::string> entries_;
};

// Enters a context for the lifetime of the object.
class LogContext {
 public:
  LogContext(LogBase& log, std::string_view name) : log_(log) { log_.EnterContext(name); }
  ~LogContext() { log_.LeaveContext(); }
  LogContext(const LogContext&) = delete;
  LogContext& operator=(const LogContext&) = delete;

 private:
  LogBase& log_;
};

}  // namespace vemtu::packing
