// Agent logs from arbitrary bytes, read as vemtu-check status reads them: the first byte
// picks run log or transfer log. Parsing, summing up and rendering must not fault, every
// parsed line must carry its fields, and the JSON must stay one object of valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "log_reader.h"
#include "status_report.h"
#include "text_escape.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vemtu::check;
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto entries = ParseLogText(text);
  for (const LogEntry& e : entries)
    if (e.time < -1 || (e.time >= 0 && e.stamp.size() != 22)) std::abort();
  StatusReport report;
  report.now = 1800000000;
  NameMethods(report.methods);
  if (data[0] & 1) {
    CategoryStatus category;
    category.name = "AlertTkt";
    ReadRunLog(entries, category);
    if (category.last_errors.size() > kLastErrorLines) std::abort();
    report.categories.push_back(category);
  } else {
    ReadTransferLog(text.substr(0, 8), entries, report);
  }
  JudgeStatus(report);
  const std::string json = StatusJson(report);
  if (json.front() != '{' || json.compare(json.size() - 2, 2, "}\n") != 0) std::abort();
  for (std::size_t i = 0; i < json.size();) {
    std::size_t length = Utf8SequenceLength(json, i);
    if (length == 0) std::abort();
    i += length;
  }
  StatusHtml(report);
  StatusText(report);
  return 0;
}
