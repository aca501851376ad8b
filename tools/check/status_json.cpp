// The report as one JSON object for monitoring systems; README.md documents its keys.
#include "status_report.h"
#include "text_escape.h"

namespace vemtu::check {

namespace {

// A time or an age in seconds; null when unknown.
std::string Seconds(std::int64_t value) { return value < 0 ? "null" : std::to_string(value); }
std::string Bool(bool value) { return value ? "true" : "false"; }
std::string NameOrNull(const std::string& name) { return name.empty() ? "null" : JsonString(name); }

std::string Category(const StatusReport& r, const CategoryStatus& c) {
  std::string retries;
  for (int n = 1; n <= kRetryNumbers; ++n) retries += (n > 1 ? "," : "") + std::to_string(c.by_retry[n]);
  std::string errors;
  for (const LogEntry& e : c.last_errors)
    errors += std::string(errors.empty() ? "" : ",") + "{\"time\":" + Seconds(e.time) +
              ",\"message\":" + JsonString(e.message) + ",\"error\":" + std::to_string(e.error) +
              ",\"error_text\":" + JsonString(e.error_text) + "}";
  const std::int64_t oldest_age = c.oldest_written < 0 ? -1 : r.now - c.oldest_written;
  return "{\"name\":" + JsonString(c.name) + ",\"posts\":" + Bool(c.posts) +
         ",\"folder_exists\":" + Bool(c.folder_exists) +
         ",\"waiting\":{\"count\":" + std::to_string(c.waiting) +
         ",\"bytes\":" + std::to_string(c.waiting_bytes) + ",\"oldest\":" + NameOrNull(c.oldest_name) +
         ",\"oldest_age\":" + Seconds(oldest_age) + ",\"overdue\":" + std::to_string(c.overdue) +
         ",\"by_retry\":[" + retries + "],\"left_by_rule\":" + std::to_string(c.left_by_rule) +
         ",\"links\":" + std::to_string(c.links) +
         "},\"error_folder\":{\"count\":" + std::to_string(c.error_files) +
         ",\"newest\":" + NameOrNull(c.newest_error_name) +
         ",\"newest_arrived\":" + Seconds(c.newest_error_arrived) +
         ",\"new\":" + std::to_string(c.new_errors) +
         "},\"run\":{\"running\":" + Bool(c.pid_alive) +
         ",\"recorded_pid\":" + NameOrNull(c.recorded_pid) + ",\"pid_alive\":" + Bool(c.pid_alive) +
         ",\"lock_open\":" + Bool(c.lock_open) + ",\"watchdog\":" + NameOrNull(c.watchdog) +
         ",\"last_start\":" + Seconds(c.last_start) + ",\"last_finish\":" + Seconds(c.last_finish) +
         ",\"last_errors\":[" + errors + "]}}";
}

std::string Method(const MethodStatus& m) {
  const MethodFailure& f = m.last_failure;
  std::string failure =
      f.step.empty() ? "null"
                     : "{\"time\":" + Seconds(f.time) + ",\"prefix\":" + JsonString(f.prefix) +
                           ",\"step\":" + JsonString(f.step) + ",\"error\":" +
                           std::to_string(f.error) + ",\"text\":" + JsonString(f.text) +
                           ",\"detail\":" + JsonString(f.detail) + "}";
  return "{\"number\":" + std::to_string(m.number) + ",\"procedure\":" + JsonString(m.procedure) +
         ",\"last_success\":" + Seconds(m.last_success) + ",\"last_failure\":" + failure + "}";
}

std::string ReasonJson(const Reason& f) {
  return "{\"severity\":" + JsonString(SeverityName(f.severity)) +
         ",\"subject\":" + JsonString(f.subject) + ",\"cause\":" + JsonString(f.cause) +
         ",\"action\":" + JsonString(f.action) + "}";
}

std::string Attempt(const LastAttempt& a) {
  if (a.time < 0) return "null";
  std::string errors;
  for (long long e : a.errors) errors += (errors.empty() ? "" : ",") + std::to_string(e);
  return "{\"time\":" + Seconds(a.time) + ",\"prefix\":" + JsonString(a.prefix) +
         ",\"file\":" + JsonString(a.file) + ",\"accepted\":" + Bool(a.accepted) +
         ",\"refused\":" + Bool(a.refused) + ",\"methods_failed\":" +
         std::to_string(a.methods_failed) + ",\"errors\":[" + errors + "]}";
}

template <typename Items, typename Render>
std::string List(const Items& items, Render render) {
  std::string out = "[";
  for (const auto& item : items) out += (out.size() > 1 ? "," : "") + render(item);
  return out + "]";
}

}  // namespace

std::string StatusJson(const StatusReport& r) {
  return "{\"folder\":" + JsonString(r.folder) + ",\"now\":" + std::to_string(r.now) +
         ",\"max_age\":" + std::to_string(r.max_age) +
         ",\"max_run_age\":" + std::to_string(r.max_run_age) +
         ",\"verdict\":" + JsonString(SeverityName(r.verdict)) +
         ",\"exit_code\":" + std::to_string(static_cast<int>(r.verdict)) +
         ",\"summary\":" + JsonString(VerdictLine(r).substr(0, VerdictLine(r).find('\n'))) +
         ",\"findings\":" + List(r.findings, ReasonJson) +
         ",\"last_run\":" + Seconds(r.last_run) + ",\"disk\":" +
         (r.disk.known ? "{\"free_bytes\":" + std::to_string(r.disk.free_bytes) +
                             ",\"read_only\":" + Bool(r.disk.read_only) + "}"
                       : std::string("null")) +
         ",\"last_attempt\":" + Attempt(r.last_attempt) +
         ",\"stuck\":" + Bool(!r.stuck.empty()) +
         ",\"reasons\":" + List(r.stuck, [](const std::string& s) { return JsonString(s); }) +
         ",\"categories\":" +
         List(r.categories, [&](const CategoryStatus& c) { return Category(r, c); }) +
         ",\"prefixes\":" +
         List(r.prefixes,
              [](const PrefixStatus& p) {
                return "{\"prefix\":" + JsonString(p.prefix) +
                       ",\"last_accepted\":" + Seconds(p.last_accepted) +
                       ",\"last_accepted_file\":" + NameOrNull(p.last_accepted_file) +
                       ",\"accepted\":" + std::to_string(p.accepted) +
                       ",\"failed\":" + std::to_string(p.failed) + "}";
              }) +
         ",\"methods\":" + List(r.methods, Method) + ",\"posts_per_hour\":" +
         List(r.posts_per_hour, [](int n) { return std::to_string(n); }) + "}\n";
}

}  // namespace vemtu::check
