#include "status_page.h"

namespace dcsim {

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

static std::string Cell(const std::string& text, const char* cls = nullptr) {
  std::string open = cls ? std::string("<td class=\"") + cls + "\">" : std::string("<td>");
  return open + HtmlEscape(text) + "</td>";
}

std::string StatusPage(const std::vector<Seen>& seen, int refresh_seconds) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
      "<meta http-equiv=\"refresh\" content=\"" +
      std::to_string(refresh_seconds) +
      "\"><title>dcsim: requests received</title><style>"
      "body{font-family:sans-serif}table{border-collapse:collapse}"
      "td,th{border:1px solid #999;padding:2px 6px;vertical-align:top;text-align:left}"
      "pre{margin:0;white-space:pre-wrap;max-width:60em}"
      "tr.unserved{color:#777}</style></head><body>\n"
      "<h1>Requests received</h1>\n<p id=\"count\">" +
      std::to_string(seen.size()) +
      " shown, newest first</p>\n<table id=\"requests\"><tr><th>time</th><th>no.</th>"
      "<th>way</th><th>method</th><th>path and query</th><th>bytes</th><th>status</th>"
      "<th>reply</th><th>unpacked text</th></tr>\n";
  for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
    const Seen& s = *it;
    page += s.number == "-" ? "<tr class=\"unserved\">" : "<tr>";
    page += Cell(s.time) + Cell(s.number) + Cell(s.via) + Cell(s.method) +
            Cell(s.target, "target") + Cell(std::to_string(s.body_bytes)) +
            Cell(s.status, "status") + Cell(s.reply, "reply");
    page += s.packed ? "<td class=\"unpacked\"><pre>" + HtmlEscape(s.unpacked) + "</pre></td>"
                     : std::string("<td></td>");
    page += "</tr>\n";
  }
  page += "</table>\n</body></html>\n";
  return page;
}

}  // namespace dcsim
