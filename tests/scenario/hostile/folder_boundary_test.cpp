// The agent folder as the boundary: links, crafted names and special files planted in a
// fresh agent folder. Afterwards every result file's bytes are still in the folder or
// were accepted whole by the simulator, nothing outside the folder changed, and every
// run ended within its time-out.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "agent_scenario.h"

namespace vemtu::test {
namespace {

namespace fs = std::filesystem;

constexpr int kRunTimeoutMs = 60000;

// What a tree holds, links not followed: kind, permissions and bytes per path.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> items;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(root, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    const fs::path& path = it->path();
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    std::string item = std::to_string(st.st_mode) + "|";
    if (S_ISREG(st.st_mode)) item += ReadFileBytes(path);
    if (S_ISLNK(st.st_mode)) item += fs::read_symlink(path, ignored).string();
    items[fs::relative(path, root).string()] = item;
  }
  return items;
}

// Every regular file's bytes under `root`, links not followed.
std::multiset<std::string> ContentsUnder(const fs::path& root) {
  std::multiset<std::string> contents;
  for (const auto& [path, item] : Snapshot(root)) {
    struct stat st;
    if (lstat((root / path).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      contents.insert(ReadFileBytes(root / path));
    }
  }
  return contents;
}

class FolderBoundary : public AgentScenario {
 protected:
  void SetUp() override {
    AgentScenario::SetUp();
    outside_ = dir_ / "outside";
    fs::create_directories(outside_);
  }

  // Plants a result file and remembers its bytes.
  void Plant(const std::string& category, const std::string& name, const std::string& bytes) {
    WriteFileBytes(File(category, name), bytes);
    planted_.push_back(bytes);
  }

  void Link(const std::string& target, const std::string& link) {
    fs::create_directories(fs::path(link).parent_path());
    fs::create_symlink(target, link);
  }

  // Runs the agent with `word` ("" runs AlertTkt).
  RunResult RunBounded(const std::string& word) {
    RunResult result = Run(word, kRunTimeoutMs);
    EXPECT_FALSE(result.timed_out) << "the run did not end";
    return result;
  }

  // Every planted text is still a file of the agent folder, or its whole text reached
  // the simulator in a request it accepted.
  void ExpectNothingLost() {
    std::multiset<std::string> kept = ContentsUnder(agent_);
    std::vector<Received> received = ReceivedRequests();
    for (const std::string& bytes : planted_) {
      bool accepted = false;
      for (const auto& r : received) {
        if (r.line.reply != "1") continue;
        accepted |= r.body == bytes ||
                    (!r.unpacked.empty() && r.unpacked.find(bytes) != std::string::npos);
      }
      EXPECT_TRUE(accepted || kept.count(bytes) > 0) << "lost: " << bytes;
    }
  }

  // Waits until the body of a request after the first `count` has reached the simulator,
  // which is now holding its reply; false when none came.
  bool WaitForRequestsBeyond(std::size_t count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReceivedRequests().size() == count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return ReceivedRequests().size() > count;
  }

  std::string outside_;
  std::vector<std::string> planted_;
};

TEST_F(FolderBoundary, LinkedFoldersAreNeitherListedNorWrittenInto) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string k = "AlertTkt";
  // A linked folder named like a leftover packed copy, a linked Error folder, a linked
  // log folder and a linked configuration folder, each pointing outside.
  WriteFileBytes(outside_ + "/zips/keep.zip", "not a leftover");
  WriteFileBytes(outside_ + "/zips/IN_N_1.txt", "outside result");
  fs::create_directories(outside_ + "/errors");
  fs::create_directories(outside_ + "/logs");
  Link(outside_ + "/zips", Folder(k) + "/old.zip");
  Link(outside_ + "/zips", Folder(k) + "/SUB_N_2.txt");
  Link(outside_ + "/errors", Folder(k) + "/Error");
  Link(outside_ + "/logs", agent_ + "/ApplicationLog/WebPost/WebPostExe");
  fs::create_directories(outside_ + "/config");
  fs::remove_all(agent_ + "/Configuration/WebPost");
  Link(outside_ + "/config", agent_ + "/Configuration/WebPost");
  Plant(k, "NOPREFIX.txt", "no prefix: would go to Error");
  Plant(k, "EMPTY_N_3.txt", "");
  Plant(k, "GOOD_N_4.txt", "good");
  const auto before = Snapshot(outside_);

  RunBounded("");
  RunBounded("ATPostLogs");

  EXPECT_EQ(Snapshot(outside_), before);
  EXPECT_TRUE(fs::is_symlink(Folder(k) + "/old.zip"));
  EXPECT_TRUE(FileExists(File(k, "NOPREFIX.txt")));
  EXPECT_TRUE(FileExists(File(k, "EMPTY_N_3.txt")));
  // Kept: through the linked configuration folder no run can record its process id.
  EXPECT_TRUE(FileExists(File(k, "GOOD_N_4.txt")));
  EXPECT_EQ(ReceivedRequests().size(), 0u);
  ExpectNothingLost();
}

TEST_F(FolderBoundary, LinkedFilesAreLeftAloneAndNeverWrittenThrough) {
  if (UnderWine()) {
    GTEST_SKIP() << "under wine a link to a file shows as a plain file, so the Windows "
                    "build cannot tell it apart";
  }
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string k = "AlertTkt";
  WriteFileBytes(outside_ + "/secret.txt", "secret outside text");
  WriteFileBytes(outside_ + "/readonly.xml", "<doc>read-only outside</doc>");
  fs::permissions(outside_ + "/readonly.xml", fs::perms::owner_read | fs::perms::group_read);
  WriteFileBytes(outside_ + "/victim.log", "outside log\r\n");
  Link(outside_ + "/secret.txt", File(k, "LNK_N_1.txt"));
  Link(outside_ + "/readonly.xml", File(k, "RO_Y_2.xml"));
  Link(outside_ + "/readonly.xml", File(k, "NOPREFIX.xml"));
  Link(outside_ + "/victim.log", TransferLog("GOOD"));
  Link(outside_ + "/victim.log", RunLog(k));
  Link(outside_ + "/readonly.xml", agent_ + "/Configuration/WebPost/WebPostDB_AlertTkt.bin");
  Plant(k, "GOOD_N_3.txt", "good text");
  const auto before = Snapshot(outside_);

  RunBounded("");

  EXPECT_EQ(Snapshot(outside_), before);
  EXPECT_TRUE(fs::is_symlink(File(k, "LNK_N_1.txt")));
  EXPECT_TRUE(fs::is_symlink(File(k, "RO_Y_2.xml")));
  EXPECT_TRUE(fs::is_symlink(File(k, "NOPREFIX.xml")));
  for (const auto& r : ReceivedRequests()) {
    EXPECT_EQ(r.body.find("outside"), std::string::npos) << r.head;
    EXPECT_EQ(r.unpacked.find("outside"), std::string::npos) << r.head;
  }
  // Kept: its transfer log is a link, and a post that log cannot record is not made.
  EXPECT_TRUE(FileExists(File(k, "GOOD_N_3.txt")));
  ExpectNothingLost();
}

TEST_F(FolderBoundary, BackslashInALinuxNameIsAnOrdinaryByte) {
  if (UnderWine()) {
    GTEST_SKIP() << "the name holds '\\', which Windows names cannot; wine shows it as "
                    "another character";
  }
  StartDcsim({"--rule", "default reply=0"});
  WriteAgentIni(BaseUrl());
  const std::string k = "AlertTkt";
  WriteFileBytes(outside_ + "/T_Y_1.zip", "existing outside file");
  WriteFileBytes(outside_ + "/T_Y_1.xml", "<doc>outside</doc>");
  Plant(k, "..\\..\\outside\\T_Y_1.xml", "<doc>crafted</doc>");
  Plant(k, "..\\..\\outside\\T_N_2.txt", "crafted plain");
  const auto before = Snapshot(outside_);

  RunBounded("");

  EXPECT_EQ(Snapshot(outside_), before);
  ExpectNothingLost();
}

TEST_F(FolderBoundary, NamesTheCodePageWouldBendAreLeftAloneOncePerRun) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string k = "AlertTkt";
  // Under code page 1252 a fullwidth reverse solidus (U+FF3C) best-fits to "\" and a
  // CJK letter to "?"; on Linux these are ordinary names.
  const std::string bs = "\xef\xbc\xbc";
  WriteFileBytes(agent_ + "/victim1.txt", "beside the agent");
  WriteFileBytes(outside_ + "/victim2.txt", "outside plain");
  WriteFileBytes(outside_ + "/victim3.xml", "<doc>outside packed</doc>");
  Plant(k, ".." + bs + "victim1.txt", "crafted one");
  Plant(k, "AT_N_" + bs + ".." + bs + ".." + bs + "outside" + bs + "victim2.txt", "crafted two");
  Plant(k, "AT_Y_" + bs + ".." + bs + ".." + bs + "outside" + bs + "victim3.xml", "<d>three</d>");
  Plant(k, "\xe4\xb8\x80_N_1.txt", "not in the code page");
  const auto before = Snapshot(outside_);

  RunBounded("");
  RunBounded("");

  EXPECT_EQ(Snapshot(outside_), before);
  EXPECT_EQ(ReadFileBytes(agent_ + "/victim1.txt"), "beside the agent");
  for (const auto& r : ReceivedRequests()) EXPECT_EQ(r.body.find("outside"), std::string::npos);
  ExpectNothingLost();
  if (UnderWine()) {
    const std::string log = ReadFileBytes(RunLog(k));
    static const std::regex line("File name cannot be used");
    // Each name once in each of the two runs.
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), line), {}), 8) << log;
    EXPECT_TRUE(ReceivedRequests().empty());
  }
}

TEST_F(FolderBoundary, APathPastMaxPathWithinTheCapacityIsPosted) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string k = "AlertTkt";
  const std::size_t folder_chars = AgentPath(Folder(k)).size() + 1;
  ASSERT_LT(folder_chars + 20, 285u);
  const std::string name = "LONG_N_" + std::string(285 - folder_chars - 11, 'x') + ".txt";
  ASSERT_EQ(AgentPath(File(k, name)).size(), 285u);
  Plant(k, name, "long path text");

  RunBounded("");

  EXPECT_FALSE(FileExists(File(k, name)));
  ASSERT_EQ(ReceivedRequests().size(), 1u);
  EXPECT_EQ(ReceivedRequests()[0].body, "long path text");
}

TEST_F(FolderBoundary, SpecialFilesReadAsMissingAndNeverHoldTheRunUp) {
  StartDcsim();
  const std::string config = agent_ + "/Configuration/WebPost";
  const std::string k = "AlertTkt";
  ASSERT_EQ(mkfifo((agent_ + "/KOLTMobile.INI").c_str(), 0666), 0);
  ASSERT_EQ(mkfifo((config + "/WebPostDB_AlertTkt.bin").c_str(), 0666), 0);
  ASSERT_EQ(mkfifo((config + "/WebPostConfig.INI").c_str(), 0666), 0);
  ASSERT_EQ(mkfifo((config + "/Reprioritize.XML").c_str(), 0666), 0);
  Plant(k, "KEEP_N_1.txt", "kept: no site configured");
  RunBounded("");
  EXPECT_TRUE(FileExists(File(k, "KEEP_N_1.txt")));

  // Links to endless devices, and a FIFO among the result files.
  fs::remove(agent_ + "/KOLTMobile.INI");
  WriteAgentIni(BaseUrl());
  fs::remove(config + "/WebPostDB_AlertTkt.bin");
  fs::remove(config + "/WebPostConfig.INI");
  fs::remove(config + "/Reprioritize.XML");
  fs::remove(config + "/VemtuAlertTkt.INI");
  Link("/dev/zero", config + "/WebPostDB_AlertTkt.bin");
  Link("/dev/urandom", config + "/VemtuAlertTkt.INI");
  Link("/dev/zero", config + "/WebPostConfig.INI");
  Link("/dev/zero", config + "/DNSSpecific.XML");
  Link("/dev/zero", File(k, "ZERO_N_2.txt"));
  ASSERT_EQ(mkfifo(File(k, "FIFO_N_3.txt").c_str(), 0666), 0);
  auto started = std::chrono::steady_clock::now();
  RunBounded("");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_TRUE(FileExists(File(k, "KEEP_N_1.txt")));  // no process id recorded, no post
  fs::remove(config + "/VemtuAlertTkt.INI");
  RunBounded("");
  EXPECT_FALSE(FileExists(File(k, "KEEP_N_1.txt")));  // the run went on to post
  ExpectNothingLost();
}

TEST_F(FolderBoundary, AnExecutablePathTooLongEndsTheRunTouchingNothing) {
  StartDcsim();
  // Two long folder names: the executable's path is past 258 characters, and cut there
  // it would end inside the second name.
  const std::string parent = dir_ / (std::string(120, 'p') + "/" + std::string(120, 'q'));
  const std::string exe = InstallAgent(parent + "/agent");
  ASSERT_GT(exe.size(), 258u);
  WriteFileBytes(parent + "/AlertTkt/CUT_N_1.txt", "beside the agent");
  WriteFileBytes(parent + "/agent/AlertTkt/OWN_N_2.txt", "the agent's own");
  WriteFileBytes(parent + "/agent/KOLTMobile.INI",
                 "[DCConnURL]\r\nControllerPSite=" + BaseUrl() + "\r\n");
  const auto before = Snapshot(dir_.path());

  RunResult result = RunAgent(exe, {}, kRunTimeoutMs);

  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(Snapshot(dir_.path()), before);
  EXPECT_TRUE(ReceivedRequests().empty());
}

// An agent folder named with characters outside the ANSI code page has no exact 8-bit
// name: the run ends with exit code 3 and touches neither it nor the best-fit look-alike
// beside it. Under 932 a folder whose characters end in the byte "\" is the agent's own,
// and the Status run it starts lies there too.
TEST_F(FolderBoundary, AnAgentFolderOutsideTheCodePageIsRefusedAndItsLookAlikeLeftAlone) {
  if (!UnderWine()) GTEST_SKIP() << "the Linux build's code page (UTF-8) spells every path";
  StartDcsim();
  const std::string locales = dir_ / "locales";
  fs::create_directories(locales);
  ASSERT_EQ(RunProgram({"/usr/bin/localedef", "-i", "ja_JP", "-f", "UTF-8",
                        locales + "/ja_JP.UTF-8"}), 0);
  struct Case {
    const char* folder;
    const char* look_alike;  // what best fit would make of it under the locale
    const char* locale;
    int exit_code;
  };
  const Case cases[] = {
      {"\uFF36\uFF45\uFF4D\uFF54\uFF55\uFF12", "Vemtu2", "C.UTF-8", 3},  // fullwidth letters
      {"\u0410\u0433\u0435\u043D\u0442", "", "C.UTF-8", 3},  // Cyrillic
      {"\u30BD\u30D5\u30C8", "", "ja_JP.UTF-8", 0},                          // trail bytes 0x5C
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.folder);
    const std::string parent = dir_ / ("case" + std::to_string(i));
    agent_ = parent + "/" + c.folder + "/Vemtu";
    exe_ = InstallAgent(agent_);
    WriteAgentIni(BaseUrl());
    Plant("AlertTkt", "OWN_N_1.txt", "the agent's own");
    if (*c.look_alike) {
      WriteFileBytes(parent + "/" + c.look_alike + "/Vemtu/KOLTMobile.INI",
                     "[DCConnURL]\r\nControllerPSite=" + BaseUrl() + "\r\n");
      WriteFileBytes(parent + "/" + c.look_alike + "/Vemtu/AlertTkt/PLANT_N_1.txt", "planted");
    }
    const auto before = Snapshot(parent);
    setenv("VEMTU_WINE_LANG", c.locale, 1);
    setenv("LOCPATH", locales.c_str(), 1);
    RunResult result = RunBounded("");
    unsetenv("VEMTU_WINE_LANG");
    unsetenv("LOCPATH");

    EXPECT_EQ(result.exit_code, c.exit_code);
    if (c.exit_code != 0) {
      EXPECT_EQ(Snapshot(parent), before);
      EXPECT_TRUE(ReceivedRequests().empty());
    } else {
      EXPECT_TRUE(WaitFinished({"AlertTkt", "Status"}, kRunTimeoutMs));
      EXPECT_FALSE(FileExists(File("AlertTkt", "OWN_N_1.txt")));
      EXPECT_EQ(ReceivedRequests().size(), 1u);
    }
  }
}

TEST_F(FolderBoundary, RetryNamesAndErrorMovesNeverReplaceAFile) {
  StartDcsim({"--rule", "default reply=0"});
  WriteAgentIni(BaseUrl());
  const std::string k = "AlertTkt";
  // Every retry name of REF is taken, and so is its place in the Error folder.
  Plant(k, "REF_N_1.txt", "retry 0");
  Plant(k, "REF_N_1.txt1", "retry 1");
  Plant(k, "REF_N_1.txt2", "retry 2");
  Plant(k, "REF_N_1.txt5", "retry 5");
  WriteFileBytes(ErrorFile(k, "REF_N_1.txt"), "in Error already");
  planted_.push_back("in Error already");
  Plant(k, "NOPREFIX.txt", "new without prefix");
  WriteFileBytes(ErrorFile(k, "NOPREFIX.txt"), "old without prefix");
  planted_.push_back("old without prefix");

  RunBounded("");
  RunBounded("");

  ExpectNothingLost();
  EXPECT_TRUE(FileExists(ErrorFile(k, "NOPREFIX.txt.1")));
  EXPECT_EQ(ReadFileBytes(ErrorFile(k, "NOPREFIX.txt")), "old without prefix");
}

// A file changed while its post waits for the reply, by a writer appending to it or by
// another file renamed over its name: what arrived is the file as it was checked, and the
// reply "1" deletes nothing that was not posted.
std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(FolderBoundary, AFileChangedWhileItIsPostedIsNotDeleted) {
  constexpr int kReplyDelayMs = 4000;
  StartDcsim({"--rule", "prefix=SLOW delay=" + std::to_string(kReplyDelayMs)});
  WriteAgentIni(BaseUrl());
  const std::string k = "AlertTkt";
  const std::string bin =
      UnderWine() ? EnvOr("VEMTU_WINDOWS_BIN", "") : EnvOr("VEMTU_BIN", ".");
  const std::string replacement = dir_ / "replacement", renamed = "the writer's new file";
  const struct {
    const char* name;
    std::string bytes;
    bool rename;       // false: a writer appends "second part"
    std::string left;  // what the name holds after the run; empty: deleted
  } cases[] = {
      // Windows opens the body with read sharing only, so there the writer is refused
      // (32); on Linux the agent's read lease holds it off only while the body is read,
      // and the file accepted after the writer changed it is kept for the writer's bytes.
      {"SLOW_N_1.txt", "first part;", false, UnderWine() ? "" : "first part;second part"},
      {"SLOW_N_2.txt", "the checked text", true, renamed},
      {"SLOW_Y_3.xml", "<r>the checked tree</r>", true, renamed},
  };
  const std::string kKeptLine = "MSG: File changed while posted, kept for the next run";
  std::size_t kept_lines = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = File(k, c.name);
    const std::size_t before = ReceivedRequests().size();
    WriteFileBytes(path, c.bytes);
    const int pid = StartAgent(exe_, {});
    ASSERT_TRUE(WaitForRequestsBeyond(before));
    if (c.rename) {
      WriteFileBytes(replacement, renamed);
      fs::rename(replacement, path);
    } else {
      const std::string appender = bin + (UnderWine() ? "/hostile_appender.exe" : "/hostile_appender");
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(RunAgent(appender, {AgentPath(path), "second part"}, kRunTimeoutMs).exit_code,
                UnderWine() ? 32 : 0);
      EXPECT_LT(std::chrono::steady_clock::now() - start,
                std::chrono::milliseconds(kReplyDelayMs / 2))
          << "the writer waited for the reply";
    }
    ASSERT_FALSE(WaitAgent(pid, kRunTimeoutMs).timed_out);

    const std::vector<Received> received = ReceivedRequests();
    ASSERT_EQ(received.size(), before + 1) << "posted again in the same run";
    const Received& post = received.back();
    if (post.line.packed) {
      EXPECT_NE(post.unpacked.find(c.bytes), std::string::npos) << post.unpacked;
    } else {
      EXPECT_EQ(post.body, c.bytes);
    }
    if (c.left.empty()) {
      EXPECT_FALSE(FileExists(path));
    } else {
      EXPECT_EQ(ReadFileBytes(path), c.left);
      EXPECT_EQ(Occurrences(ReadFileBytes(TransferLog("SLOW")), kKeptLine), ++kept_lines);
    }
    fs::remove(path);
  }
}

TEST_F(FolderBoundary, ConcurrentRunsNeitherTearNorLoseTransferLogLines) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  // Three runs at once (AlertTkt starts Status beside itself), all posting files of one
  // prefix, so all append to one transfer log.
  constexpr int kFilesPerRun = 100;
  std::vector<std::string> plain;
  for (const std::string k : {"AlertTkt", "ATPostLogs", "Status"}) {
    for (int i = 0; i < kFilesPerRun; ++i) {
      std::string text = "SAME-" + k + "-" + std::to_string(i) + "-" + std::string(300, 'x');
      WriteFileBytes(File(k, "SAME_N_" + std::to_string(i) + ".txt"), text);
      if (k != "Status") plain.push_back(text);  // Status files are posted packed
    }
  }
  const int alert = StartAgent(exe_, {});
  const int logs = StartAgent(exe_, {"ATPostLogs"});
  EXPECT_FALSE(WaitAgent(alert, kRunTimeoutMs).timed_out);
  EXPECT_FALSE(WaitAgent(logs, kRunTimeoutMs).timed_out);
  ASSERT_TRUE(WaitFinished({"AlertTkt", "ATPostLogs", "Status"}, kRunTimeoutMs));

  const std::string log = ReadFileBytes(TransferLog("SAME"));
  auto count = [&log](const std::string& text) {
    std::size_t n = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("MSG: Web Post Data"), 3u * kFilesPerRun);
  EXPECT_EQ(count("MSG: Successfully WebPosted File"), 3u * kFilesPerRun);
  for (const std::string& text : plain) EXPECT_EQ(count("\r\n" + text + "\r\n"), 1u) << text;
  // Every entry is a line of its own with its ten fields: none torn, none run together.
  static const std::regex stamp(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M\t)");
  std::size_t from = 0;
  for (std::size_t end; (end = log.find("\r\n", from)) != std::string::npos; from = end + 2) {
    const std::string line = log.substr(from, end - from);
    if (line.rfind("SAME-", 0) == 0) continue;  // a copied file
    std::smatch found;
    if (!std::regex_search(line, found, stamp)) continue;  // bytes of a packed copy
    EXPECT_EQ(found.position(0), 0) << line;
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 10) << line;
  }
}

// Swaps two names (one of them a link) as fast as it can until it is destroyed, which
// puts them back as they were.
class Exchanger {
 public:
  Exchanger(std::string a, std::string b)
      : a_(std::move(a)), b_(std::move(b)), thread_([this] {
          long swaps = 0;
          while (!stop_) swaps += renameat2(AT_FDCWD, a_.c_str(), AT_FDCWD, b_.c_str(),
                                            RENAME_EXCHANGE) == 0;
          if (swaps % 2) renameat2(AT_FDCWD, a_.c_str(), AT_FDCWD, b_.c_str(), RENAME_EXCHANGE);
        }) {}
  ~Exchanger() {
    stop_ = true;
    thread_.join();
  }

 private:
  const std::string a_, b_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(FolderBoundary, FoldersAndFilesExchangedWithLinksDuringRunsLeadNowhereOutside) {
  if (UnderWine())
    GTEST_SKIP() << "a rename made on the Linux side passes wine's share modes, so wine cannot "
                    "hold a folder against it (on Windows the held folder refuses it, 32)";
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string k = "ATPostLogs";
  // What swaps with a link to an outside folder (or file) while the runs go on.
  const std::string targets[] = {Folder(k), Folder(k) + "/Error", File(k, "RACE_N_9.txt")};
  fs::create_directories(Folder(k) + "/Error");
  fs::create_directories(outside_ + "/cat/Error");
  fs::create_directories(outside_ + "/err");
  WriteFileBytes(outside_ + "/victim.txt", "outside victim");
  Link(outside_ + "/cat", targets[0] + ".x");
  Link(outside_ + "/err", targets[1] + ".x");
  Link(outside_ + "/victim.txt", targets[2] + ".x");
  // The outside folder holds files of the very names planted inside.
  auto plant_twice = [&](const std::string& name, const std::string& text) {
    if (text.empty()) {
      WriteFileBytes(File(k, name), "");
    } else {
      Plant(k, name, text);
    }
    WriteFileBytes(outside_ + "/cat/" + name, "outside " + name);
  };
  int round = 0;
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    for (int i = 0; i < 10; ++i) {
      const std::string n = std::to_string(round++);
      plant_twice("IN" + n + "_N_1.txt", "inside " + n);
      plant_twice("INNOPREFIX" + n + ".txt", "inside, no prefix " + n);
      plant_twice("INEMPTY" + n + "_N_1.txt", "");
    }
    if (target == targets[2]) Plant(k, "RACE_N_9.txt", "inside race");
    const auto before = Snapshot(outside_);
    {
      Exchanger exchanger(target, target + ".x");
      for (int run = 0; run < 6; ++run) RunBounded(k);
    }
    EXPECT_EQ(Snapshot(outside_), before);
  }

  for (const auto& r : ReceivedRequests()) EXPECT_EQ(r.body.find("outside"), std::string::npos);
  ExpectNothingLost();
}

TEST_F(FolderBoundary, LinksAboveTheCheckedFoldersAreNeitherWrittenNorChanged) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  for (const std::string folder : {"ApplicationLog", "Configuration"}) {
    SCOPED_TRACE(folder);
    const std::string inside = agent_ + "/" + folder;
    fs::create_directories(inside);
    fs::rename(inside, outside_ + "/" + folder);
    const std::string logs = outside_ + "/ApplicationLog/WebPost/WebPostExe";
    WriteFileBytes(logs + "/WebPostATPostLogs.log", "outside read-only log\r\n");
    fs::permissions(logs + "/WebPostATPostLogs.log", fs::perms::owner_read);
    Link(outside_ + "/" + folder, inside);
    Plant("ATPostLogs", "UP" + folder + "_N_1.txt", "text beside a linked " + folder);
    const auto before = Snapshot(outside_);

    RunBounded("ATPostLogs");
    RunBounded("Configuration");

    EXPECT_EQ(Snapshot(outside_), before);
    fs::remove(inside);
    fs::rename(outside_ + "/" + folder, inside);
  }
  ExpectNothingLost();
}

// Files that must not be posted as they are: each is left where it is, with one line per
// run naming it, and the call goes on to the files after it.
TEST_F(FolderBoundary, FilesThatCannotBePostedSafelyAreLeftWithOneLinePerRun) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  WriteFileBytes(outside_ + "/secret.txt", "outside secret");
  struct Case {
    const char* category;
    const char* name;
    const char* line;
    std::function<bool(const std::string&)> make;  // false: cannot be made here
  } cases[] = {
      {"ATPostLogs", "IMMUTABLE_N_4.txt", "ERR: Unable to delete file, not posted",
       [](const std::string& p) {
         WriteFileBytes(p, "immutable");
         return !UnderWine() && RunProgram({"/usr/bin/chattr", "+i", p}) == 0;
       }},
      // Under wine a link to a file shows as a plain file.
      {"ATPostLogs", "L_N_5.txt", "ERR: File is a link, left alone",
       [&](const std::string& p) {
         return !UnderWine() && symlink((outside_ + "/secret.txt").c_str(), p.c_str()) == 0;
       }},
      // Sparse: takes no room on the disk.
      {"Status", "PBIG_6.txt", "ERR: Status file too large, left alone",
       [](const std::string& p) {
         WriteFileBytes(p, "");
         fs::resize_file(p, 1ull << 30);
         return true;
       }},
  };
  const auto before = Snapshot(outside_);
  int after = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string after_name = "AFTER" + std::to_string(after++) + "_N_1.txt";
    const std::string path = File(c.category, c.name);
    fs::create_directories(Folder(c.category));
    if (!c.make(path)) {
      fs::remove(path);
      continue;
    }
    Plant(c.category, after_name, "posted after it");
    RunBounded(c.category);
    RunBounded(c.category);
    const std::string prefix = std::string(c.name).substr(0, std::string(c.name).find('_'));
    EXPECT_EQ(Occurrences(ReadFileBytes(TransferLog(prefix)), c.line), 2u);
    EXPECT_EQ(Occurrences(ReadFileBytes(RunLog(c.category)), c.line), 0u);
    EXPECT_TRUE(fs::symlink_status(path).type() != fs::file_type::not_found);
    EXPECT_FALSE(FileExists(File(c.category, after_name)));
    RunProgram({"/usr/bin/chattr", "-i", path});
    fs::remove(path);  // the later rows' runs would post it
  }
  EXPECT_EQ(Snapshot(outside_), before);
  for (const auto& r : ReceivedRequests()) {
    EXPECT_EQ(r.body.find("outside"), std::string::npos);
    EXPECT_EQ(r.body.find("immutable"), std::string::npos);
  }
}

// A second name gives nothing where nobody may link a file they could not read and
// write: a "cp -al" snapshot, deduplicated files and linked logs are posted and written
// as any other; elsewhere such a file is left alone with one line per run. An outside
// file linked in keeps its owner and mode, also under a root run in another's folder.
TEST_F(FolderBoundary, SecondNamesGiveNothingWhereLinksAreProtected) {
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const bool harmless =
      UnderWine() || ReadFileBytes("/proc/sys/fs/protected_hardlinks").substr(0, 1) == "1";
  const std::string secret = outside_ + "/secret.txt", k = "ATPostLogs";
  WriteFileBytes(secret, "outside secret");
  chmod(secret.c_str(), 0440);
  Plant(k, "DUP_N_1.txt", "deduplicated");
  Plant(k, "SNAP_N_1.txt", "in the snapshot");
  Plant(k, "LOGGED_N_1.txt", "its log is an outside file");
  RunBounded("Configuration");  // the logs' folders exist before the links and snapshot
  const std::pair<std::string, std::string> links[] = {
      {File(k, "DUP_N_1.txt"), File(k, "DUP_N_2.txt")}, {secret, File(k, "HARD_N_1.txt")},
      {secret, File("Status", "HLINK_2.txt")}, {secret, File(k, "BIG_Y_1.zip")},
      {secret, TransferLog("LOGGED")}};
  fs::create_directories(Folder("Status"));
  for (const auto& [target, name] : links) ASSERT_EQ(link(target.c_str(), name.c_str()), 0);
  ASSERT_EQ(RunProgram({"/bin/cp", "-al", agent_, dir_ / "snapshot"}), 0);
  if (!UnderWine() && geteuid() == 0) {
    for (const auto& entry : fs::recursive_directory_iterator(agent_)) {
      if (!fs::equivalent(entry.path(), secret)) lchown(entry.path().c_str(), 65534, 65534);
    }
    lchown(agent_.c_str(), 65534, 65534);
  }
  struct stat before, after;
  ASSERT_EQ(stat(secret.c_str(), &before), 0);
  for (const char* word : {"ATPostLogs", "ATPostLogs", "Status"}) RunBounded(word);
  ASSERT_EQ(stat(secret.c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_mode, before.st_mode);
  if (!harmless) EXPECT_EQ(ReadFileBytes(secret), "outside secret");
  EXPECT_EQ(Occurrences(ReadFileBytes(RunLog(k)), "MSG: Finished Web Posting"), 2u);
  EXPECT_EQ(ReadFileBytes(dir_ / "snapshot/ATPostLogs/SNAP_N_1.txt"), "in the snapshot");
  // The Windows build resets no read-only attribute through a second name, so it cannot
  // delete the read-only outside file linked in, and leaves it.
  const bool read_only_kept = UnderWine();
  for (const char* name : {"DUP_N_1.txt", "DUP_N_2.txt", "SNAP_N_1.txt", "HARD_N_1.txt"}) {
    const std::string prefix = std::string(name).substr(0, std::string(name).find('_'));
    const bool read_only = std::string(name) == "HARD_N_1.txt";
    EXPECT_EQ(FileExists(File(k, name)), !harmless || (read_only && read_only_kept)) << name;
    EXPECT_EQ(Occurrences(ReadFileBytes(TransferLog(prefix)), "ERR: File has other names"),
              harmless ? 0u : 2u) << name;
  }
  EXPECT_EQ(FileExists(File("Status", "HLINK_2.txt")), !harmless || read_only_kept);
  ExpectNothingLost();
}

// Guards that keep a file from being lost or forged, each with its line: a forged Status
// prefix, an append-only folder, a writer's own ".zip", a name with CR LF made undeletable
// while its reply is awaited.
TEST_F(FolderBoundary, GuardedFilesAreKeptAndNamedInTheirLogs) {
  if (UnderWine()) GTEST_SKIP() << "the cases need Linux names, flags and a Linux writer";
  StartDcsim({"--rule", "default delay=1500"});
  WriteAgentIni(BaseUrl());
  const std::string cr_lf_name = "SLOW\r\nT\t9999\tMSG: Successfully WebPosted_N_1.txt";
  struct Case {
    const char* category;
    std::string name;
    std::string bytes;
    const char* flag;        // chattr flag set on the category folder before the run
    bool flag_file_mid_post; // chattr +i on the file while its reply is awaited
    const char* line;        // in the transfer log of the prefix, or the run log when
    bool in_run_log;         // `in_run_log`
    bool posted;
    bool kept;               // where it was; false: in the Error folder
  } cases[] = {
      {"Status", "x regid=\"FORGED\"_1.txt", "status text", nullptr, false,
       "ERR: File name prefix is not an XML name", false, false, false},
      {"ATPostLogs", "APPEND_N_1.txt", "append-only folder", "+a", false,
       "ERR: Unable to delete file, not posted", false, false, true},
      {"ATPostLogs", "W_N_1.zip", std::string("PK\x03\x04\x14\0\0\0", 8) + "archive",
       nullptr, false, "ERR: File is not a packed copy, left alone", true, true, false},
      {"ATPostLogs", cr_lf_name, "undeletable", nullptr, true, "ERR: Unable to delete file",
       false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = File(c.category, c.name);
    const std::size_t before = ReceivedRequests().size();
    Plant(c.category, c.name, c.bytes);
    if (c.flag && RunProgram({"/usr/bin/chattr", c.flag, Folder(c.category)}) != 0) {
      std::cout << "skipped: the test file system takes no chattr " << c.flag << "\n";
      fs::remove(path);
      continue;
    }
    const int pid = StartAgent(exe_, {c.category});
    if (c.flag_file_mid_post && WaitForRequestsBeyond(before)) {
      RunProgram({"/usr/bin/chattr", "+i", path});
    }
    ASSERT_FALSE(WaitAgent(pid, kRunTimeoutMs).timed_out);
    RunProgram({"/usr/bin/chattr", "-i", path});
    if (c.flag) RunProgram({"/usr/bin/chattr", std::string("-") + (c.flag + 1), Folder(c.category)});

    const std::string prefix = c.name.substr(0, c.name.find('_'));
    const std::string log = ReadFileBytes(c.in_run_log ? RunLog(c.category) : TransferLog(prefix));
    EXPECT_EQ(Occurrences(log, c.line), 1u) << log;
    EXPECT_EQ(Occurrences(log, "\r\nT\t9999"), 0u) << "a forged line";
    EXPECT_EQ(ReceivedRequests().size(), before + (c.posted ? 1u : 0u));
    EXPECT_EQ(FileExists(path), c.kept);
    if (!c.kept && !c.posted) EXPECT_TRUE(FileExists(ErrorFile(c.category, c.name)));
    fs::remove(path);
  }
}

TEST_F(FolderBoundary, AFileAWriterHoldsOpenWaitsForALaterRun) {
  if (UnderWine()) GTEST_SKIP() << "a Linux writer's open is no share mode that wine sees";
  StartDcsim();
  WriteAgentIni(BaseUrl());
  const std::string path = File("ATPostLogs", "BUSY_N_1.txt");
  Plant("ATPostLogs", "BUSY_N_1.txt", "half written");
  const int writer = open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(writer, 0);
  RunBounded("ATPostLogs");
  EXPECT_TRUE(FileExists(path));
  EXPECT_TRUE(ReceivedRequests().empty());
  close(writer);
  RunBounded("ATPostLogs");
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(ReceivedRequests().size(), 1u);
}

// A service user's run on another user's file: with CAP_LEASE (as the systemd unit grants
// it) the file is held and posted; without it, only once it has settled, and the run log
// says once per run that the run works without leases.
TEST_F(FolderBoundary, AFileNoLeaseCanHoldWaitsUntilItHasSettled) {
  if (UnderWine() || geteuid() != 0) GTEST_SKIP() << "needs a native run as root to switch users";
  StartDcsim();
  WriteAgentIni(BaseUrl());
  WriteFileBytes(agent_ + "/KOLTMobile.INI", ReadFileBytes(agent_ + "/KOLTMobile.INI") +
                                                "[WebPostFiles]\r\nSettleSeconds=1\r\n");
  const std::string k = "ATPostLogs", no_lease = "MSG: No lease can be had on some files";
  fs::create_directories(Folder(k));
  RunBounded("Configuration");  // the log folders, before they are handed to the user
  for (const auto& entry : fs::recursive_directory_iterator(agent_)) {
    lchown(entry.path().c_str(), 65534, 65534);
  }
  lchown(agent_.c_str(), 65534, 65534);
  const struct {
    const char* name;
    bool lease_right;
    int wait_ms;  // after the file is written, before the run
    bool posted;
  } cases[] = {{"LEASED_N_1.txt", true, 0, true},
               {"FRESH_N_1.txt", false, 0, false},
               {"SETTLED_N_1.txt", false, 2500, true}};
  for (const auto& c : cases) {
    WriteFileBytes(File(k, c.name), "another user's file");  // root's, 0644
    std::this_thread::sleep_for(std::chrono::milliseconds(c.wait_ms));
    std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups"};
    if (c.lease_right) argv.insert(argv.end(), {"--inh-caps=+lease", "--ambient-caps=+lease"});
    argv.insert(argv.end(), {exe_, k});
    const std::size_t lines = Occurrences(ReadFileBytes(RunLog(k)), no_lease);
    ASSERT_EQ(RunProgram(argv, kRunTimeoutMs), 0) << c.name;
    EXPECT_EQ(FileExists(File(k, c.name)), !c.posted) << c.name;
    EXPECT_EQ(Occurrences(ReadFileBytes(RunLog(k)), no_lease), lines + !c.lease_right)
        << c.name << ReadFileBytes(RunLog(k));
    fs::remove(File(k, c.name));
  }
}

TEST_F(FolderBoundary, ARootRunHandsWhatItMakesToTheFolderOwner) {
  if (UnderWine() || geteuid() != 0) GTEST_SKIP() << "needs a native run as root";
  StartDcsim();
  WriteAgentIni(BaseUrl());
  Plant("ATPostLogs", "NOPREFIX.txt", "to the Error folder");
  Plant("ATPostLogs", "DONE_Y_1.xml", "<doc>posted packed</doc>");
  constexpr uid_t kOwner = 65534;
  for (const auto& entry : fs::recursive_directory_iterator(agent_)) {
    lchown(entry.path().c_str(), kOwner, kOwner);
  }
  lchown(agent_.c_str(), kOwner, kOwner);
  RunBounded("ATPostLogs");
  RunBounded("Configuration");
  for (const auto& entry : fs::recursive_directory_iterator(agent_)) {
    struct stat st;
    ASSERT_EQ(lstat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kOwner) << entry.path();
  }
}

TEST_F(FolderBoundary, APathPastTheCapacityIsNamedOncePerRun) {
  StartDcsim();
  // Deep enough to pass 359 characters with a long name, not so deep that a Windows
  // listing (260 characters) cannot reach the folder.
  const std::string deep = dir_ / std::string(150, 'd');
  agent_ = deep + "/agent";
  exe_ = InstallAgent(agent_);
  fs::create_directories(agent_ + "/Configuration/WebPost");
  WriteAgentIni(BaseUrl());
  const std::string name = "LONG_N_" + std::string(160, 'n') + ".txt";
  Plant("ATPostLogs", name, "a path too long");
  RunBounded("ATPostLogs");
  RunBounded("ATPostLogs");
  EXPECT_EQ(Occurrences(ReadFileBytes(TransferLog("LONG")), "ERR: Path too long, file left alone"),
            2u);
  EXPECT_TRUE(FileExists(File("ATPostLogs", name)));
}

}  // namespace
}  // namespace vemtu::test
