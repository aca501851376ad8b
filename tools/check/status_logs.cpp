// What the transfer logs and the run logs tell about posting.
#include <algorithm>
#include <cstring>
#include <map>

#include "status_report.h"

namespace vemtu::check {

namespace {

constexpr char kStarted[] = "MSG: Started ";
constexpr char kReturnText[] = "MSG: Return text from ";
constexpr char kNewFile[] = "MSG: WebPosting File";
constexpr char kAccepted[] = "MSG: Successfully WebPosted File";
constexpr char kRunStarted[] = "MSG: Started Web Posting";
constexpr char kRunFinished[] = "MSG: Finished Web Posting";

// The procedures in cascade order; method 4 is procedure 2 once more, with the proxy set
// on the request too.
const char* const kProcedures[7] = {
    "SendWinHTTPPOST", "SendProxyWinHTTPPOST", "SendDefaultProxyWinHTTPPOST",
    "SendProxyWinHTTPPOST", "SendPOST", "SendProxyPOST", "SendDefaultProxyPOST"};

// Run-log lines that say a run did not post, though they are written as messages.
const char* const kRefusals[] = {"MSG: Unable to create mutex",
                                 "MSG: Previous process is still running",
                                 "MSG: Unable to terminate previous process"};

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The method a "Started" line belongs to. The cascade only goes forward within one file,
// so the number is the first one after the file's previous attempt; a file that starts
// with the shared procedure continues method 4 when that posted the file before.
int MethodOf(const std::string& procedure, int previous_in_file, int last_success) {
  int first = 0;
  for (int n = 1; n <= 7; ++n) {
    if (procedure != kProcedures[n - 1]) continue;
    if (n > previous_in_file && previous_in_file != 0) return n;
    if (first == 0) first = n;
  }
  if (previous_in_file == 0 && first == 2 && last_success == 4) return 4;
  return first;
}

void Note(MethodFailure& failure, const LogEntry& entry, const std::string& prefix) {
  if (entry.time < failure.time) return;
  failure.time = entry.time;
  failure.prefix = prefix;
}

}  // namespace

void NameMethods(std::array<MethodStatus, 7>& methods) {
  for (int n = 1; n <= 7; ++n) {
    methods[n - 1].number = n;
    methods[n - 1].procedure = kProcedures[n - 1];
  }
}

// A file's name without its retry number ("X.txt2" is "X.txt"): its passes under retry
// names are one file.
std::string FileOfAttempt(const std::string& path) {
  std::size_t dot = path.rfind('.');
  std::size_t end = path.size();
  if (dot == std::string::npos || end <= dot + 4) return path;
  while (end > dot + 4 && path[end - 1] >= '0' && path[end - 1] <= '9') --end;
  return end == dot + 4 ? path.substr(0, end) : path;
}

void ReadTransferLog(const std::string& prefix, const std::vector<LogEntry>& entries,
                     StatusReport& report) {
  PrefixStatus status;
  status.prefix = prefix;
  const std::int64_t this_hour = report.now / 3600;
  int method = 0, last_success = 0;
  // Each file's passes end as its last one did: accepted or not.
  std::map<std::string, bool> accepted_by_file;
  LastAttempt attempt;
  auto end_file = [&] {
    if (attempt.time < 0) return;
    accepted_by_file[attempt.file] = attempt.accepted;
    if (attempt.time >= report.last_attempt.time) report.last_attempt = attempt;
    attempt = LastAttempt();
  };
  for (const LogEntry& e : entries) {
    if (e.message == kNewFile) {
      end_file();
      method = 0;
      attempt.time = e.time;
      attempt.prefix = prefix;
      attempt.file = FileOfAttempt(e.detail2);
    } else if (StartsWith(e.message, kStarted)) {
      method = MethodOf(e.message.substr(sizeof kStarted - 1), method, last_success);
    } else if (e.message == kAccepted) {
      attempt.accepted = true;
      ++status.accepted;
      if (e.time >= status.last_accepted) {
        status.last_accepted = e.time;
        status.last_accepted_file = e.detail1;
      }
      std::int64_t age = e.time < 0 ? -1 : this_hour - e.time / 3600;
      if (age >= 0 && age < kChartHours) ++report.posts_per_hour[kChartHours - 1 - age];
      if (method != 0) {
        MethodStatus& m = report.methods[method - 1];
        if (e.time >= m.last_success) m.last_success = e.time;
        last_success = method;
      }
    } else if (method != 0 && StartsWith(e.message, kReturnText)) {
      if (e.detail1 == "1") continue;
      attempt.refused = true;
      MethodFailure& f = report.methods[method - 1].last_failure;
      if (e.time < f.time) continue;
      Note(f, e, prefix);
      f.step = "reply";
      f.error = 0;
      f.text = "refused: reply \"" + e.detail1 + "\"";
      f.detail.clear();
    } else if (method != 0 && e.event == 0) {
      ++attempt.methods_failed;
      if (std::find(attempt.errors.begin(), attempt.errors.end(), e.error) == attempt.errors.end())
        attempt.errors.push_back(e.error);
      // A transport error: the step is the message, "ERR" + TAB + label or a label
      // with "ERR" in the first detail.
      MethodFailure& f = report.methods[method - 1].last_failure;
      if (e.time < f.time) continue;
      Note(f, e, prefix);
      f.step = StartsWith(e.message, "ERR\t") ? e.message.substr(4) : e.message;
      f.error = e.error;
      f.text = e.error_text;
      if (f.text.empty() && e.detail2 == "No text returned") f.text = "no reply text";
      if (f.text.empty() && e.error >= 300 && e.error < 600)
        f.text = "HTTP status " + std::to_string(e.error);
      f.detail = !e.detail3.empty() ? e.detail3 : e.detail2 == "No text returned" ? "" : e.detail2;
    }
  }
  end_file();
  for (const auto& file : accepted_by_file) status.failed += !file.second;
  report.prefixes.push_back(status);
}

void ReadRunLog(const std::vector<LogEntry>& entries, CategoryStatus& category) {
  // The last run's lines: those after the last finish (a run going on, or runs refused
  // before they started), or else those of the run that finished last.
  std::vector<LogEntry> since_finish;
  bool any_since_finish = false;
  category.has_run_log = category.has_run_log || !entries.empty();
  for (const LogEntry& e : entries) {
    if (e.message == kRunStarted && e.time >= category.last_start) category.last_start = e.time;
    if (e.message == kRunFinished && e.time >= category.last_finish) category.last_finish = e.time;
    if (e.message == kRunStarted) since_finish.clear();
    if (e.message == kRunFinished) {
      category.last_run_errors = std::move(since_finish);
      since_finish.clear();
      any_since_finish = false;
      continue;
    }
    any_since_finish = true;
    bool refusal = false;
    for (const char* r : kRefusals) refusal = refusal || e.message == r;
    if (!refusal && !StartsWith(e.message, "ERR")) continue;
    since_finish.push_back(e);
    category.last_errors.push_back(e);
    if (category.last_errors.size() > kLastErrorLines)
      category.last_errors.erase(category.last_errors.begin());
  }
  if (any_since_finish) category.last_run_errors = std::move(since_finish);
}

}  // namespace vemtu::check
