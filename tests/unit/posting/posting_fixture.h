// A run context in a temporary agent folder and a cascade of fake send methods that
// tests script per method number.
#pragma once

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/run_context.h"
#include "platform/paths.h"
#include "posting/dispatch_post.h"
#include "support/test_files.h"

namespace vemtu::test {

// folder + separator + name, with the platform's separator.
inline std::string Join(const std::string& folder, const std::string& name) {
  return folder + platform::kPathSeparator + name;
}

// Log text with every time stamp replaced by "T", so lines compare byte for byte.
inline std::string WithoutTimestamps(const std::string& log) {
  static const std::regex stamp(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M)");
  return std::regex_replace(log, stamp, "T");
}

// One log line as the writer makes it, time stamp as "T", no error text.
inline std::string LogLine(const std::string& message, const std::string& d1 = "",
                           const std::string& d2 = "", const std::string& d3 = "") {
  return "T\t9999\t\t0\t0\t" + message + "\t\t" + d1 + "\t" + d2 + "\t" + d3 + "\t\r\n";
}

struct FakeSend {
  int number;
  std::string file_path;
  std::string body;
  std::string request_path;
};

// A run of category `category` whose agent folder is a fresh temporary folder.
class PostingFixture {
 public:
  explicit PostingFixture(const std::string& category = "AlertTkt") {
    ctx.exe_dir = dir.path().string();
    ctx.category = category;
    ctx.category_folder = Join(ctx.exe_dir.str(), category);
    ctx.error_folder = Join(ctx.category_folder.str(), "Error");
    ctx.category_ini_path = Join(ctx.exe_dir.str(), "Vemtu" + category + ".INI");
    ctx.registration_id = "R1";
    ctx.member_id = "M1";
    ctx.site_id = "S1";
    ctx.agent_type = "T1";
    std::filesystem::create_directories(ctx.error_folder.str());
  }

  // Methods whose result `results[number]` (default 0) is returned; a method that
  // succeeds deletes the file it was given, as the real send procedures do.
  SendMethodTable FakeMethods() {
    SendMethodTable table;
    for (int n = 1; n <= 7; ++n) {
      table[static_cast<std::size_t>(n - 1)] =
          SendMethod{n, "fake",
                     [this, n](PostingSession&, const SendTarget& target) {
                       sends.push_back({n, target.file_path, ReadFileBytes(target.file_path),
                                        target.request_path});
                       int result = results.count(n) ? results[n] : 0;
                       if (result == 1) std::filesystem::remove(target.file_path);
                       return result;
                     },
                     n <= 4};
    }
    return table;
  }

  std::string Category(const std::string& name) const {
    return Join(ctx.category_folder.str(), name);
  }
  std::string Error(const std::string& name) const { return Join(ctx.error_folder.str(), name); }
  std::string TransferLog(const std::string& prefix) const {
    return Join(Join(Join(Join(ctx.exe_dir.str(), "ApplicationLog"), "WebPost"), "WebPostExe"),
                "tfr_" + prefix + ".log");
  }
  std::vector<int> SentNumbers() const {
    std::vector<int> numbers;
    for (const auto& s : sends) numbers.push_back(s.number);
    return numbers;
  }

  TempDir dir;
  RunContext ctx;
  std::map<int, int> results;
  std::vector<FakeSend> sends;
};

}  // namespace vemtu::test
