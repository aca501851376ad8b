// The report as tables for people.
#include "status_report.h"

namespace vemtu::check {

namespace {

std::string Pad(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text + " ";
}

std::string Age(std::int64_t seconds) {
  if (seconds < 0) return "-";
  if (seconds < 120) return std::to_string(seconds) + " s";
  if (seconds < 7200) return std::to_string(seconds / 60) + " min";
  return std::to_string(seconds / 3600) + " h";
}

std::string When(std::int64_t time) { return time < 0 ? "-" : FormatStamp(time); }

std::string RunState(const CategoryStatus& c) {
  if (c.pid_alive) return "running (pid " + c.recorded_pid + ")";
  // The lock's name is the same for every agent folder of the machine.
  std::string lock = c.lock_open ? ", lock held here or by another folder's run" : "";
  if (!c.recorded_pid.empty()) return "not running (pid " + c.recorded_pid + " gone)" + lock;
  return "not running" + lock;
}

}  // namespace

std::string StatusText(const StatusReport& r) {
  std::string out = VerdictLine(r);
  for (const Reason& f : r.findings) {
    std::string severity = SeverityName(f.severity);
    for (char& ch : severity) ch = static_cast<char>(ch - 'A' + 'a');
    out += severity + ": " + ReasonText(f) + "\n";
  }
  if (!r.folder_readable) return out;
  out += "\nagent folder " + r.folder + " at " + FormatStamp(r.now) + "\n\n";
  out += Pad("category", 13) + Pad("waiting", 8) + Pad("bytes", 10) + Pad("oldest", 8) +
         Pad("retry 1..5", 11) + Pad("ig", 4) + Pad("links", 6) + Pad("Error", 6) + Pad("new", 4) + "newest in Error\n";
  for (const CategoryStatus& c : r.categories) {
    if (!c.posts) continue;
    std::string retries;
    for (int n = 1; n <= kRetryNumbers; ++n) retries += (n > 1 ? "," : "") + std::to_string(c.by_retry[n]);
    out += Pad(c.name, 13) +
           (c.folder_exists ? Pad(std::to_string(c.waiting), 8) + Pad(std::to_string(c.waiting_bytes), 10) +
                                  Pad(c.oldest_written < 0 ? "-" : Age(r.now - c.oldest_written), 8) +
                                  Pad(retries, 11) + Pad(std::to_string(c.left_by_rule), 4) +
                                  Pad(std::to_string(c.links), 6) +
                                  Pad(std::to_string(c.error_files), 6) +
                                  Pad(std::to_string(c.new_errors), 4) +
                                  (c.newest_error_name.empty() ? "-" : c.newest_error_name + " (" +
                                       Age(r.now - c.newest_error_arrived) + " ago)")
                            : "no category folder") +
           "\n";
  }
  out += "\n" + Pad("run", 13) + Pad("state", 52) + Pad("watchdog", 9) + Pad("last start", 23) +
         "last finish\n";
  for (const CategoryStatus& c : r.categories)
    out += Pad(c.name, 13) + Pad(RunState(c), 52) + Pad(c.watchdog.empty() ? "-" : c.watchdog, 9) +
           Pad(When(c.last_start), 23) + When(c.last_finish) + "\n";
  bool any_errors = false;
  for (const CategoryStatus& c : r.categories)
    for (const LogEntry& e : c.last_errors) {
      if (!any_errors) out += "\nlast errors of the run logs\n";
      any_errors = true;
      out += "  " + Pad(c.name, 13) + Pad(e.stamp, 22) + e.message +
             (e.error ? " (" + std::to_string(e.error) + " " + e.error_text + ")" : "") + "\n";
    }
  out += "\n" + Pad("prefix", 13) + Pad("last accepted", 23) + Pad("accepted", 9) + Pad("failed", 7) +
         "file\n";
  for (const PrefixStatus& p : r.prefixes)
    out += Pad(p.prefix, 13) + Pad(When(p.last_accepted), 23) + Pad(std::to_string(p.accepted), 9) +
           Pad(std::to_string(p.failed), 7) + (p.last_accepted_file.empty() ? "-" : p.last_accepted_file) +
           "\n";
  if (r.prefixes.empty()) out += "(no transfer log yet)\n";
  out += "\n" + Pad("#", 2) + Pad("procedure", 28) + Pad("last success", 23) + "last failure\n";
  for (const MethodStatus& m : r.methods) {
    const MethodFailure& f = m.last_failure;
    out += Pad(std::to_string(m.number), 2) + Pad(m.procedure, 28) + Pad(When(m.last_success), 23) +
           (f.step.empty() ? "-"
                           : When(f.time) + " tfr_" + f.prefix + ".log " + f.step + " " +
                                 std::to_string(f.error) + " " + f.text +
                                 (f.detail.empty() ? "" : " [" + f.detail + "]")) +
           "\n";
  }
  out += "\nposts per hour, the last " + std::to_string(kChartHours) + " hours:";
  for (int n : r.posts_per_hour) out += " " + std::to_string(n);
  return out + "\n";
}

}  // namespace vemtu::check
