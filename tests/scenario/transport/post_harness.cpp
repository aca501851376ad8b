#include "post_harness.h"

#include <cstdlib>
#include <regex>

#include "support/agent_runner.h"

namespace vemtu::test {

namespace {

const char* const kNames[] = {"SendWinHTTPPOST", "SendProxyWinHTTPPOST",
                              "SendDefaultProxyWinHTTPPOST", "SendProxyWinHTTPPOST",
                              "SendPOST", "SendProxyPOST", "SendDefaultProxyPOST"};

}  // namespace

LogLine Started(const std::string& procedure) {
  return {9999, 0, "MSG: Started " + procedure, "", "", ""};
}

LogLine ReturnText(const std::string& procedure, const std::string& reply) {
  return {9999, 0, "MSG: Return text from " + procedure, reply, "", ""};
}

LogLine ErrorLine(int error, const std::string& message, const std::string& detail1,
                  const std::string& detail2, const std::string& detail3) {
  return {0, error, message, detail1, detail2, detail3};
}

std::string ProcedureName(int method) { return kNames[method - 1]; }
bool IsWinHttpMethod(int method) { return method <= 4; }

void PostHarness::SetUp() {
  // The default-proxy methods must go direct unless a test says otherwise.
  for (const char* name : {"http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                           "NO_PROXY", "all_proxy", "ALL_PROXY"}) {
    unsetenv(name);
  }
  unsetenv("VEMTU_WINE_KEEP_PROXY");
}

std::string PostHarness::ProgramPath(const std::string& relative) const {
  std::string path = dir_ / relative;
  if (!UnderWine()) return path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + path;
}

std::string PostHarness::MakeFile(const std::string& relative, const std::string& bytes) {
  WriteFileBytes(dir_ / relative, bytes);
  return dir_ / relative;
}

int PostHarness::Post(const Run& run) {
  std::string exe = EnvOr("VEMTU_POST_EXE", EnvOr("VEMTU_BIN", ".") + "/vemtu-post");
  std::vector<std::string> args = {
      "--method", std::to_string(run.method), "--host", run.host,
      "--port",   std::to_string(run.port),   "--scheme", run.scheme,
      "--path",   run.path,                   "--file", ProgramPath(run.file),
      "--log",    ProgramPath("Log/tfr_X.log"), "--error-folder", ProgramPath("K/Error"),
      "--timeout", std::to_string(run.timeout_ms)};
  for (const auto& [key, value] : run.options) {
    args.push_back("--" + key);
    args.push_back(value);
  }
  RunResult result = RunAgent(exe, args, run.timeout_ms * 3 + 30000);
  if (result.timed_out) return -1;
  if (result.exit_code == 0) return 1;
  if (result.exit_code == 1) return 0;
  ADD_FAILURE() << "vemtu-post exit code " << result.exit_code;
  return -1;
}

std::vector<std::string> PostHarness::LogLines() const {
  std::string text = FileExists(dir_ / "Log/tfr_X.log") ? ReadFileBytes(dir_ / "Log/tfr_X.log") : "";
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log ends without CR LF: " << text.substr(start);
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

void PostHarness::ExpectLog(const std::vector<LogLine>& expected) const {
  static const std::regex kStamp(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M)");
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), expected.size()) << [&] {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
  }();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const LogLine& e = expected[i];
    const std::string& line = lines[i];
    std::size_t tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    EXPECT_TRUE(std::regex_match(line.substr(0, tab), kStamp)) << line;
    std::string head = std::to_string(e.event) + "\t\t" + std::to_string(e.error) + "\t0\t" +
                       e.message + "\t";
    std::string rest = line.substr(tab + 1);
    ASSERT_EQ(rest.substr(0, head.size()), head) << "line " << i << ": " << line;
    rest = rest.substr(head.size());
    std::size_t text_end = rest.find('\t');
    ASSERT_NE(text_end, std::string::npos) << line;
    if (e.error == 0) {
      EXPECT_EQ(text_end, 0u) << "no error text without an error: " << line;
    }
    EXPECT_EQ(rest.substr(text_end + 1), e.detail1 + "\t" + e.detail2 + "\t" + e.detail3 + "\t")
        << "line " << i << ": " << line;
  }
}

}  // namespace vemtu::test
