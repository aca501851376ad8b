// vemtu-check status on agent folders left by real runs against dcsim: a healthy one, one
// whose data centre refuses every file, one whose only way out is a dead proxy; a run in
// progress; the HTML page in a headless browser. Status must change nothing it reads.
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "check_scenario.h"
#include "log_reader.h"

namespace vemtu::test {
namespace {

namespace fs = std::filesystem;

// Every file under `folder` with its size and write time: what status must leave as it was.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    files[entry.path().string()] =
        entry.is_regular_file() ? std::to_string(entry.file_size()) + "@" +
                                      std::to_string(entry.last_write_time().time_since_epoch().count())
                                : "folder";
  return files;
}

// The JSON text of method `n` in the "methods" list.
std::string MethodJson(const std::string& json, int n) {
  std::size_t at = json.find("{\"number\":" + std::to_string(n) + ",");
  if (at == std::string::npos) return {};
  return json.substr(at, json.find("{\"number\":", at + 1) - at);
}

struct StatusCase {
  const char* name;
  std::vector<std::string> dcsim_rules;
  bool site_reachable;  // false: the site is a dead address, the proxy the only way
  const char* proxy_port;  // empty: no proxy configured
  std::vector<const char*> files;  // in ATPostLogs, before the run
  const char* max_age;
  int exit_code;
  std::vector<std::string> json_has;
  int method;  // a method whose entry must hold `method_has`
  const char* method_has;
};

void PrintTo(const StatusCase& c, std::ostream* out) { *out << c.name; }

class CheckStatus : public CheckScenario, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(CheckStatus, TellsWhatIsWaitingAndWhyAfterARealRun) {
  const StatusCase& c = GetParam();
  std::vector<std::string> options;
  for (const auto& rule : c.dcsim_rules) options.insert(options.end(), {"--rule", rule});
  StartDcsim(options);
  // A loopback port where nothing listens stands for the dead proxy.
  WriteAgentIni(c.site_reachable ? BaseUrl() : "http://127.0.0.9:9/dc", "",
                *c.proxy_port ? "127.0.0.1" : "", c.proxy_port);
  for (const char* name : c.files) WriteFileBytes(File("ATPostLogs", name), "<r>status test</r>");
  // A linked folder: never entered or posted, counted as a link (under wine a reparse point).
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", File("ATPostLogs", "LINKED"));
  ASSERT_FALSE(Run("ATPostLogs").timed_out);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // past a one-second age

  const auto before = Snapshot(agent_);
  CheckRun run = RunCheck({"status", "--json", "--max-age", c.max_age});
  EXPECT_EQ(Snapshot(agent_), before) << "status changed the folder";
  EXPECT_EQ(run.exit_code, c.exit_code) << run.out;
  for (const auto& fragment : c.json_has) EXPECT_NE(run.out.find(fragment), std::string::npos) << fragment << "\n" << run.out;
  EXPECT_NE(MethodJson(run.out, c.method).find(c.method_has), std::string::npos)
      << MethodJson(run.out, c.method);
  EXPECT_NE(run.out.find("\"last_finish\":1"), std::string::npos) << "the run's finish is missing";
  // The retry names counted as they lie on disk (under wine "*.txt" also finds "x.txt1"
  // through its short name, so a refused file gets one retry name further).
  int by_retry[6] = {};
  for (const auto& name : FilesIn(Folder("ATPostLogs"))) {
    char last = name.back();
    if (name.size() > 4 && name.compare(name.size() - 5, 4, ".txt") == 0 && last >= '1' && last <= '5')
      ++by_retry[last - '0'];
  }
  std::string retries = "\"by_retry\":[";
  for (int n = 1; n <= 5; ++n) retries += std::to_string(by_retry[n]) + (n < 5 ? "," : "]");
  std::size_t category = run.out.find("{\"name\":\"ATPostLogs\"");
  const std::string files = run.out.substr(category, run.out.find("\"run\":", category) - category);
  EXPECT_NE(files.find(retries), std::string::npos) << retries << "\n" << run.out;
  EXPECT_NE(files.find("\"links\":1}"), std::string::npos) << files;

  CheckRun text = RunCheck({"status", "--max-age", c.max_age});
  EXPECT_EQ(text.exit_code, c.exit_code);
  EXPECT_NE(LineWith(text.out, c.exit_code ? "stuck: ATPostLogs" : "nothing stuck"), "") << text.out;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CheckStatus,
    ::testing::Values(
        StatusCase{"Healthy", {}, true, "", {"T_N_1.txt"}, "1h", 0,
                   {"\"stuck\":false", "{\"prefix\":\"T\",\"last_accepted\":1",
                    "\"waiting\":{\"count\":0,", "\"last_errors\":[]"},
                   1, "\"last_success\":1"},
        // A refused T_N_1.txt is posted twice per run (X.txt1, then X.txt2); one already in
        // its fifth retry name goes to Error.
        StatusCase{"Refusing", {"default reply=0"}, true, "", {"T_N_1.txt", "R_N_1.txt5"}, "1h", 1,
                   {"\"stuck\":true", "\"oldest\":\"T_N_1.txt",
                    "\"error_folder\":{\"count\":1,\"newest\":\"R_N_1.txt\"", "\"new\":1",
                    "{\"prefix\":\"R\",\"last_accepted\":null,\"last_accepted_file\":null,"
                    "\"accepted\":0,\"failed\":1}"},
                   7, "\"text\":\"refused: reply \\\"0\\\"\""},
        StatusCase{"DeadProxy", {}, false, "9", {"T_N_1.txt"}, "1s", 1,
                   {"\"stuck\":true", "\"waiting\":{\"count\":1,", "\"overdue\":1"},
                   6, "\"error\":12029"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CheckScenario, StatusSeesARunInProgress) {
  StartDcsim({"--rule", "default delay=4000"});
  WriteAgentIni(BaseUrl());
  WriteFileBytes(File("ATPostLogs", "T_N_1.txt"), "slow");
  int pid = StartAgent(exe_, {"ATPostLogs"});
  bool seen = false;
  for (int i = 0; i < 60 && !seen; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    CheckRun run = RunCheck({"status", "--json"});
    seen = run.out.find("\"name\":\"ATPostLogs\"") != std::string::npos &&
           run.out.find("\"running\":true,\"recorded_pid\":\"") != std::string::npos &&
           run.out.find("\"pid_alive\":true,\"lock_open\":true") != std::string::npos;
  }
  EXPECT_TRUE(seen) << "status never saw the run";
  EXPECT_FALSE(WaitAgent(pid, 60000).timed_out);
  CheckRun after = RunCheck({"status", "--json"});
  EXPECT_EQ(after.out.find("\"running\":true"), std::string::npos) << after.out;
}

// The page opened by a real browser: headless Chromium (as root it needs --no-sandbox)
// builds the chart of posts per hour from the page alone.
TEST_F(CheckScenario, StatusPageRendersInAHeadlessBrowser) {
  if (!FileExists("/usr/bin/chromium")) GTEST_SKIP() << "chromium is not installed (scripts/deps.sh installs it)";
  StartDcsim();
  WriteAgentIni(BaseUrl());
  for (const char* name : {"A_N_1.txt", "B_N_2.txt", "B_N_3.txt"})
    WriteFileBytes(File("ATPostLogs", name), "<r/>");
  ASSERT_FALSE(Run("ATPostLogs").timed_out);
  const std::string page = (dir_ / "status.html");
  CheckRun run = RunCheck({"status", "--html", UnderWine() ? "Z:" + page : page});
  ASSERT_EQ(run.exit_code, 0) << run.out;

  std::string command = "chromium --headless --no-sandbox --disable-gpu --disable-background-networking"
                        " --disable-component-update --disable-sync --no-first-run --user-data-dir=" +
                        ShellQuote(dir_ / "chromium-profile") + " --dump-dom " +
                        ShellQuote("file://" + page) + " 2>/dev/null";
  CommandOutput dom = CaptureCommand(command);
  ASSERT_EQ(dom.exit_code, 0);
  int bars = 0, posts = 0;
  for (std::size_t at = dom.out.find("class=\"bar\" data-count=\""); at != std::string::npos;
       at = dom.out.find("class=\"bar\" data-count=\"", at + 1)) {
    ++bars;
    posts += std::stoi(dom.out.substr(at + 24));
  }
  EXPECT_EQ(bars, 24) << dom.out;
  EXPECT_EQ(posts, 3);
  EXPECT_NE(dom.out.find("id=\"verdict\">Nothing stuck."), std::string::npos);
  EXPECT_EQ(dom.out.find("src=\""), std::string::npos) << "the page loads something";
}

// Log lines as the agent writes them and the raw file copies between them.
TEST(LogReaderNativeOnly, ReadsLinesAndPassesOverEverythingElse) {
  struct Line {
    const char* text;
    bool parsed;
    const char* message;
    long long error;
    const char* detail2;
  } cases[] = {
      {"12/08/2026 12:05:09 PM\t9999\t\t0\t0\tMSG: Started Web Posting\t\t\t\t\t\r", true,
       "MSG: Started Web Posting", 0, ""},
      {"12/08/2026 12:05:09 AM\t0\t\t12029\t0\tERR\tWinHTTP.ZHTTPWebPost\tA connection could "
       "not be made\t\t\t\t\r", true, "ERR\tWinHTTP.ZHTTPWebPost", 12029, ""},
      {"\t0\t\t-5\t0\tWinInet.ZInternetOpen\t\tERR\t127.0.0.9\t\t\r", true,
       "WinInet.ZInternetOpen", -5, "127.0.0.9"},
      {"<r>a\tb\tc\td\te\tf\tg\th\ti\tj\t</r>\t\r", false, "", 0, ""},
      {"13/08/2026 12:05:09 PM\t9999\t\t0\t0\tm\t\t\t\t\t", false, "", 0, ""},
      {"12/08/2026 12:05:09 PM\t9999\t\t0\t0\tcut short\t\t\t", false, "", 0, ""},
  };
  for (const Line& line : cases) {
    auto entries = check::ParseLogText(std::string("raw copy\n") + line.text + "\n");
    ASSERT_EQ(entries.size(), line.parsed ? 1u : 0u) << line.text;
    if (!line.parsed) continue;
    EXPECT_EQ(entries[0].message, line.message);
    EXPECT_EQ(entries[0].error, line.error);
    EXPECT_EQ(entries[0].detail2, line.detail2);
  }
  EXPECT_EQ(check::ParseLogStamp("12/08/2026 12:05:09 AM") + 12 * 3600,
            check::ParseLogStamp("12/08/2026 12:05:09 PM"));
}

}  // namespace
}  // namespace vemtu::test
