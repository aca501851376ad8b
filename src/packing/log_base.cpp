#include "packing/log_base.h"

namespace vemtu::packing {

void LogBase::EnterContext(std::string_view name) {
  contexts_.emplace_back(name);
  Add("<" + contexts_.back() + ">");
}

void LogBase::LeaveContext() {
  if (contexts_.empty()) return;
  Add("</" + contexts_.back() + ">");
  contexts_.pop_back();
}

void LogBase::LogError(std::string_view text) { Add(std::string(text)); }

void LogBase::LogData(std::string_view name, std::string_view value) {
  std::string entry(name);
  entry += ": ";
  entry.append(value.substr(0, 200));
  Add(std::move(entry));
}

bool LogBase::Contains(std::string_view text) const {
  for (const std::string& e : entries_) {
    if (e.find(text) != std::string::npos) return true;
  }
  return false;
}

void LogBase::Add(std::string entry) {
  if (entries_.size() < kMaxEntries) entries_.push_back(std::move(entry));
}

}  // namespace vemtu::packing
