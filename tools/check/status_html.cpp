// The report as one self-contained page: no script, no style sheet or image to fetch,
// the chart of posts per hour drawn as inline SVG.
#include "status_report.h"
#include "text_escape.h"

namespace vemtu::check {

namespace {

std::string When(std::int64_t time) { return time < 0 ? "-" : HtmlText(FormatStamp(time)); }

std::string Cells(std::initializer_list<std::string> cells, const char* tag = "td") {
  std::string row = "<tr>";
  for (const std::string& cell : cells)
    row += std::string("<") + tag + ">" + cell + "</" + tag + ">";
  return row + "</tr>\n";
}

std::string Chart(const StatusReport& r) {
  constexpr int kBar = 24, kGap = 4, kHeight = 120, kLabel = 18;
  int most = 1;
  for (int n : r.posts_per_hour) most = n > most ? n : most;
  const int width = kChartHours * (kBar + kGap);
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                    "\" height=\"" + std::to_string(kHeight + 2 * kLabel) +
                    "\" role=\"img\" aria-label=\"accepted posts per hour\">\n";
  const std::int64_t first_hour = r.now / 3600 - (kChartHours - 1);
  for (int i = 0; i < kChartHours; ++i) {
    const int n = r.posts_per_hour[i];
    const int height = n * kHeight / most;
    const int x = i * (kBar + kGap);
    const std::string stamp = FormatStamp((first_hour + i) * 3600);
    const std::string hour = stamp.size() == 22 ? stamp.substr(11, 2) + stamp.substr(20, 1) : "";
    svg += "<rect class=\"bar\" data-count=\"" + std::to_string(n) + "\" x=\"" +
           std::to_string(x) + "\" y=\"" + std::to_string(kLabel + kHeight - height) +
           "\" width=\"" + std::to_string(kBar) + "\" height=\"" + std::to_string(height) +
           "\" fill=\"#3a7\"><title>" + HtmlText(stamp) + ": " + std::to_string(n) +
           "</title></rect>";
    if (n > 0)
      svg += "<text x=\"" + std::to_string(x + kBar / 2) + "\" y=\"" +
             std::to_string(kLabel + kHeight - height - 4) +
             "\" text-anchor=\"middle\" font-size=\"11\">" + std::to_string(n) + "</text>";
    svg += "<text x=\"" + std::to_string(x + kBar / 2) + "\" y=\"" +
           std::to_string(2 * kLabel + kHeight - 4) +
           "\" text-anchor=\"middle\" font-size=\"10\">" + hour + "</text>\n";
  }
  return svg + "</svg>\n";
}

std::string Categories(const StatusReport& r) {
  std::string out = "<table>\n" + Cells({"category", "waiting", "bytes", "oldest", "retry 1..5",
                                         "left by ig rule", "links (never posted)", "in Error", "new in Error",
                                         "newest in Error"},
                                        "th");
  for (const CategoryStatus& c : r.categories) {
    if (!c.posts) continue;
    std::string retries;
    for (int n = 1; n <= kRetryNumbers; ++n) retries += (n > 1 ? " " : "") + std::to_string(c.by_retry[n]);
    out += Cells({HtmlText(c.name), std::to_string(c.waiting), std::to_string(c.waiting_bytes),
                  c.oldest_name.empty() ? "-" : HtmlText(c.oldest_name) + " (" +
                      std::to_string((r.now - c.oldest_written) / 60) + " min)",
                  retries, std::to_string(c.left_by_rule), std::to_string(c.links),
                  std::to_string(c.error_files),
                  std::to_string(c.new_errors),
                  c.newest_error_name.empty() ? "-" : HtmlText(c.newest_error_name) + " (" +
                      When(c.newest_error_arrived) + ")"});
  }
  out += "</table>\n<table>\n" +
         Cells({"run", "running", "recorded pid", "lock held open (machine-wide)", "watchdog", "last start",
                "last finish"},
               "th");
  for (const CategoryStatus& c : r.categories)
    out += Cells({HtmlText(c.name), c.pid_alive ? "yes" : "no",
                  HtmlText(c.recorded_pid), c.lock_open ? "yes" : "no", HtmlText(c.watchdog),
                  When(c.last_start), When(c.last_finish)});
  out += "</table>\n<h2>Last errors of the run logs</h2>\n<table>\n" +
         Cells({"category", "time", "message", "error", "text"}, "th");
  for (const CategoryStatus& c : r.categories)
    for (const LogEntry& e : c.last_errors)
      out += Cells({HtmlText(c.name), HtmlText(e.stamp), HtmlText(e.message),
                    std::to_string(e.error), HtmlText(e.error_text)});
  return out + "</table>\n";
}

std::string Transfers(const StatusReport& r) {
  std::string out = "<h2>Transfer logs</h2>\n<table>\n" +
                    Cells({"prefix", "last accepted", "file", "accepted", "not posted"}, "th");
  for (const PrefixStatus& p : r.prefixes)
    out += Cells({HtmlText(p.prefix), When(p.last_accepted), HtmlText(p.last_accepted_file),
                  std::to_string(p.accepted), std::to_string(p.failed)});
  out += "</table>\n<h2>Send methods</h2>\n<table>\n" +
         Cells({"#", "procedure", "last success", "last failure", "log", "step", "error", "text",
                "detail"},
               "th");
  for (const MethodStatus& m : r.methods) {
    const MethodFailure& f = m.last_failure;
    out += Cells({std::to_string(m.number), HtmlText(m.procedure), When(m.last_success),
                  f.step.empty() ? "-" : When(f.time),
                  f.step.empty() ? "" : HtmlText("tfr_" + f.prefix + ".log"), HtmlText(f.step),
                  f.step.empty() ? "" : std::to_string(f.error), HtmlText(f.text),
                  HtmlText(f.detail)});
  }
  return out + "</table>\n";
}

}  // namespace

std::string StatusHtml(const StatusReport& r) {
  std::string verdict;
  for (const Reason& f : r.findings)
    verdict += std::string("<li class=\"") + SeverityName(f.severity) + "\">" +
               HtmlText(SeverityName(f.severity) + std::string(": ") + ReasonText(f)) + "</li>\n";
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         "<title>Agent status: " + HtmlText(r.folder) + "</title>\n"
         "<style>body{font:14px sans-serif;margin:1.5em}table{border-collapse:collapse;"
         "margin:.5em 0 1.5em}td,th{border:1px solid #bbb;padding:2px 6px;text-align:left}"
         "th{background:#eee}.stuck{color:#a00}.fine{color:#070}</style>\n</head>\n<body>\n"
         "<h1>Agent status</h1>\n<p>" + HtmlText(r.folder) + " at " + When(r.now) + "</p>\n" +
         (r.findings.empty() ? "<p class=\"fine\" id=\"verdict\">Nothing stuck.</p>\n"
                             : "<ul class=\"stuck\" id=\"verdict\" data-verdict=\"" +
                                   std::string(SeverityName(r.verdict)) + "\">\n" + verdict + "</ul>\n") +
         Categories(r) + "<h2>Accepted posts per hour</h2>\n" + Chart(r) + Transfers(r) +
         "</body>\n</html>\n";
}

}  // namespace vemtu::check
