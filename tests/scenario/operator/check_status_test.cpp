// vemtu-check status on agent folders left by real runs against dcsim, judged as a
// monitoring check: healthy, unable to post for each reason it names, or with files in
// Error; a run in progress; the HTML page in a headless browser. Status must change
// nothing it reads.
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "check_scenario.h"
#include "log/log_writer.h"
#include "log_reader.h"
#include "platform/named_mutex.h"
#include "text_escape.h"

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

// What a case does to the folder around its run.
enum class Setup {
  kNone,
  kRemoveFolder,     // the category folder is removed after the run
  kNoSuchFolder,     // status is pointed at a folder that does not exist
  kLockRefused,      // another user holds the transfer log's lock during the run
  kDiskFull,         // the agent folder lies on a full disk during the run
};

struct StatusCase {
  const char* name;
  Setup setup;
  std::vector<std::string> dcsim_rules;
  const char* site;  // "dcsim": the simulator; else the text of ControllerPSite
  const char* proxy_port;  // empty: no proxy configured
  std::vector<const char*> files;  // in ATPostLogs, before the run
  const char* max_run_age;
  int exit_code;
  const char* first_line;  // how the verdict line starts
  std::vector<std::string> json_has;
  bool posted_nothing;  // the result files stay and the simulator received nothing
};

void PrintTo(const StatusCase& c, std::ostream* out) { *out << c.name; }

class CheckStatus : public CheckScenario, public ::testing::WithParamInterface<StatusCase> {
 protected:
  void TearDown() override {
    if (!disk_.empty()) RunProgram({"/bin/umount", "-l", disk_});
    CheckScenario::TearDown();
  }

  // Moves the agent folder onto a tmpfs of its own, filled to the last byte once the
  // result files are written.
  bool MoveOntoSmallDisk() {
    disk_ = agent_;
    fs::remove_all(agent_);
    fs::create_directories(agent_);
    if (RunProgram({"/bin/mount", "-t", "tmpfs", "-o", "size=256m", "tmpfs", agent_}) != 0) {
      disk_.clear();
      return false;
    }
    CheckScenario::SetUp();  // the agent and the check installed anew, on that disk
    return true;
  }
  void FillDisk() {
    RunProgram({"/bin/sh", "-c",
                "used=$(df -k --output=used " + ShellQuote(agent_) + " | tail -1); "
                "mount -o remount,size=$((used + 64))k " + ShellQuote(agent_) + " && "
                "cat /dev/zero >" + ShellQuote(agent_ + "/filler") + " 2>/dev/null; true"});
  }

  std::string disk_;
};

TEST_P(CheckStatus, JudgesAFolderAfterARealRun) {
  const StatusCase& c = GetParam();
  if (c.setup == Setup::kDiskFull && UnderWine())
    GTEST_SKIP() << "under wine the check reads a tmpfs mount point as no folder";
  if (c.setup == Setup::kDiskFull && !MoveOntoSmallDisk())
    GTEST_SKIP() << "no tmpfs can be mounted here (needs root in the mount namespace)";
  if (c.setup == Setup::kLockRefused) {
    if (UnderWine()) GTEST_SKIP() << "the Windows build's locks are wine's objects, not ours";
    GTEST_SKIP() << "another user's locks live in a table of their own: no other user can "
                    "hold a lock of the agent's runs";
  }
  std::vector<std::string> options;
  for (const auto& rule : c.dcsim_rules) options.insert(options.end(), {"--rule", rule});
  StartDcsim(options);
  // A loopback port where nothing listens stands for the dead proxy.
  WriteAgentIni(std::string(c.site) == "dcsim" ? BaseUrl() : c.site, "",
                *c.proxy_port ? "127.0.0.1" : "", c.proxy_port);
  fs::create_directories(Folder("ATPostLogs"));
  for (const char* name : c.files) WriteFileBytes(File("ATPostLogs", name), "<r>status test</r>");
  // A linked folder: never entered or posted, counted as a link (under wine a reparse point).
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", File("ATPostLogs", "LINKED"));
  if (c.setup == Setup::kDiskFull) FillDisk();
  ASSERT_FALSE(Run("ATPostLogs").timed_out);
  if (c.setup == Setup::kRemoveFolder) fs::remove_all(Folder("ATPostLogs"));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));  // past a one-second age

  std::vector<std::string> args = {"status", "--max-age", "1h", "--max-run-age", c.max_run_age};
  if (c.setup == Setup::kNoSuchFolder) args.insert(args.end(), {"--folder", agent_ + "/gone"});
  const auto before = Snapshot(agent_);
  CheckRun text = RunCheck(args);
  args.push_back("--json");
  CheckRun run = RunCheck(args);
  EXPECT_EQ(Snapshot(agent_), before) << "status changed the folder";
  EXPECT_EQ(text.exit_code, c.exit_code) << text.out;
  EXPECT_EQ(run.exit_code, c.exit_code) << run.out;
  const std::string first = text.out.substr(0, text.out.find('\n'));
  EXPECT_EQ(first.rfind(c.first_line, 0), 0u) << c.first_line << "\n" << text.out;
  if (c.exit_code != 3) {
    EXPECT_NE(first.find(" | waiting="), std::string::npos) << first;
  }
  const std::string summary = check::JsonString(c.first_line);
  EXPECT_NE(run.out.find("\"summary\":" + summary.substr(0, summary.size() - 1)), std::string::npos)
      << run.out;
  for (const auto& fragment : c.json_has)
    EXPECT_NE(run.out.find(fragment), std::string::npos) << fragment << "\n" << run.out;
  if (c.posted_nothing) {
    for (const char* name : c.files) EXPECT_TRUE(FileExists(File("ATPostLogs", name))) << name;
    EXPECT_EQ(ReceivedRequests().size(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CheckStatus,
    ::testing::Values(
        StatusCase{"Healthy", Setup::kNone, {}, "dcsim", "", {"T_N_1.txt"}, "1h", 0,
                   "OK: nothing stuck, last run ",
                   {"\"verdict\":\"OK\"", "\"stuck\":false", "{\"prefix\":\"T\",\"last_accepted\":1",
                    "\"waiting\":{\"count\":0,", "\"last_errors\":[]", "\"links\":1}"},
                   false},
        StatusCase{"SiteMalformed", Setup::kNone, {}, "htps//127.0.0.1/dc", "", {"T_N_1.txt"}, "1h", 2,
                   "CRITICAL: ATPostLogs: the last run logged \"ERR: KOLTMobile.INI [DCConnURL] "
                   "ControllerPSite",
                   {"set [DCConnURL] ControllerPSite"}, true},
        // Direct and through the dead proxy: every method meets 12029 (under wine the
        // default proxy's method meets 12007).
        StatusCase{"DataCentreDown", Setup::kNone, {}, "http://127.0.0.9:9/dc", "9", {"T_N_1.txt"},
                   "1h", 2, "CRITICAL: send methods: every send method failed for ",
                   {"(12029", "): the data centre, or the proxy on the way to it, cannot be reached",
                    "run vemtu-check output", "\"methods_failed\":7"},
                   true},
        StatusCase{"CategoryFolderRemoved", Setup::kRemoveFolder, {}, "dcsim", "", {}, "1h", 2,
                   "CRITICAL: ATPostLogs: the category folder ", {"\"folder_exists\":false"}, false},
        StatusCase{"NoSuchAgentFolder", Setup::kNoSuchFolder, {}, "dcsim", "", {}, "1h", 3,
                   "UNKNOWN: agent folder: ", {"\"verdict\":\"UNKNOWN\""}, false},
        StatusCase{"TransferLogLockRefused", Setup::kLockRefused, {}, "dcsim", "", {"T_N_1.txt"}, "1h",
                   2, "CRITICAL: ATPostLogs: the last run logged \"ERR: Unable to write transfer log, "
                   "file not posted", {}, true},
        StatusCase{"DiskFull", Setup::kDiskFull, {}, "dcsim", "", {"T_N_1.txt"}, "1h", 2,
                   "CRITICAL: agent folder: the disk holding ", {"\"disk\":{\"free_bytes\":"}, true},
        StatusCase{"NoRecentRun", Setup::kNone, {}, "dcsim", "", {}, "1s", 2,
                   "CRITICAL: runs: no run started or finished in the last 1 s", {}, false},
        // A refused T_N_1.txt is posted twice per run (X.txt1, then X.txt2), yet it is one
        // file that failed; one already in its fifth retry name goes to Error.
        StatusCase{"ErrorGrowing", Setup::kNone, {"default reply=0"}, "dcsim", "",
                   {"T_N_1.txt", "R_N_1.txt5"}, "1h", 1,
                   "WARNING: ATPostLogs: 1 file(s) moved to Error in the last 60 min",
                   {"\"stuck\":true", "\"error_folder\":{\"count\":1,\"newest\":\"R_N_1.txt\"",
                    "{\"prefix\":\"T\",\"last_accepted\":null,\"last_accepted_file\":null,"
                    "\"accepted\":0,\"failed\":1}",
                    "\"text\":\"refused: reply \\\"0\\\"\""},
                   false}),
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
