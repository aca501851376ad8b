#include "platform/profile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/named_mutex.h"
#include "support/agent_runner.h"
#include "support/test_files.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/xattr.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vemtu::platform {
namespace {

struct ReadCase {
  const char* what;
  const char* file_text;
  const char* section;
  const char* key;
  std::size_t max_chars;
  const char* expected;  // the default is "DEF"
};

TEST(Profile, ReadsWithThePrivateProfileRules) {
  const ReadCase cases[] = {
      {"plain", "[Sec]\r\nKey=Value\r\n", "Sec", "Key", 100, "Value"},
      {"names ignore case", "[SeC]\r\nkEy=Value\r\n", "sEc", "KEY", 100, "Value"},
      {"LF line ends", "[Sec]\nKey=Value\nOther=2\n", "Sec", "Other", 100, "2"},
      {"no final line end", "[Sec]\r\nKey=Value", "Sec", "Key", 100, "Value"},
      {"blanks dropped", "  [ Sec ]  \r\n\t Key \t= \t spaced value \t\r\n", "Sec", "Key", 100,
       "spaced value"},
      {"quotes around the value", "[Sec]\r\nKey=\"quoted value\"\r\n", "Sec", "Key", 100,
       "quoted value"},
      {"quotes after blanks", "[Sec]\r\nKey = \" padded \" \r\n", "Sec", "Key", 100, " padded "},
      {"single quotes", "[Sec]\r\nKey='single'\r\n", "Sec", "Key", 100, "single"},
      {"one quote kept", "[Sec]\r\nKey=\"half\r\n", "Sec", "Key", 100, "\"half"},
      {"inner quotes kept", "[Sec]\r\nKey=a \"b\" c\r\n", "Sec", "Key", 100, "a \"b\" c"},
      {"outer pair only", "[Sec]\r\nKey=\"a\" and \"b\"\r\n", "Sec", "Key", 100, "a\" and \"b"},
      {"value with '='", "[Sec]\r\nKey=a=b\r\n", "Sec", "Key", 100, "a=b"},
      {"empty value", "[Sec]\r\nKey=\r\n", "Sec", "Key", 100, ""},
      {"cut at capacity", "[Sec]\r\nKey=ABCDEFGH\r\n", "Sec", "Key", 3, "ABC"},
      {"cut after unquoting", "[Sec]\r\nKey=\"ABCDEFGH\"\r\n", "Sec", "Key", 4, "ABCD"},
      {"default cut too", "[Sec]\r\n", "Sec", "Key", 2, "DE"},
      {"first key wins", "[Sec]\r\nKey=one\r\nKEY=two\r\n", "Sec", "Key", 100, "one"},
      {"first section wins", "[Sec]\r\nA=1\r\n[Other]\r\n[sec]\r\nA=2\r\nKey=late\r\n", "Sec",
       "A", 100, "1"},
      {"second section ignored", "[Sec]\r\nA=1\r\n[sec]\r\nKey=late\r\n", "Sec", "Key", 100,
       "DEF"},
      {"missing key", "[Sec]\r\nOther=1\r\n", "Sec", "Key", 100, "DEF"},
      {"missing section", "[Other]\r\nKey=1\r\n", "Sec", "Key", 100, "DEF"},
      {"key of the next section", "[Sec]\r\n[Next]\r\nKey=1\r\n", "Sec", "Key", 100, "DEF"},
      {"key before any section", "Key=1\r\n[Sec]\r\n", "Sec", "Key", 100, "DEF"},
      {"line without '='", "[Sec]\r\nKey\r\n", "Sec", "Key", 100, "DEF"},
      {"comment line", "[Sec]\r\n;Key=1\r\n", "Sec", "Key", 100, "DEF"},
      {"junk around", "\x01\xff\xfe garbage\r\n[Sec]\r\n\x7f\x80=\x90\r\nKey=ok\r\n\xc3(", "Sec",
       "Key", 100, "ok"},
      {"empty file", "", "Sec", "Key", 100, "DEF"},
      {"UTF-8 mark", "\xEF\xBB\xBF[Sec]\r\nKey=V\r\n", "Sec", "Key", 100, "V"},
  };
  test::TempDir dir;
  std::string path = dir / "read.ini";
  for (const ReadCase& c : cases) {
    test::WriteFileBytes(path, c.file_text);
    EXPECT_EQ(GetProfileText(path, c.section, c.key, "DEF", c.max_chars), c.expected) << c.what;
  }
  EXPECT_EQ(GetProfileText(dir / "missing.ini", "Sec", "Key", "DEF", 100), "DEF");
}

TEST(Profile, ReadsLeadingDigitsAsNumbers) {
  test::TempDir dir;
  std::string path = dir / "numbers.ini";
  test::WriteFileBytes(path,
                       "[N]\r\nplain=42\r\nneg=-17\r\ntail=12abc\r\nnone=abc\r\nempty=\r\n"
                       "quoted=\"7\"\r\nspaced=  9  \r\n");
  EXPECT_EQ(GetProfileInt(path, "N", "plain", 5), 42);
  EXPECT_EQ(GetProfileInt(path, "n", "NEG", 5), -17);
  EXPECT_EQ(GetProfileInt(path, "N", "tail", 5), 12);
  EXPECT_EQ(GetProfileInt(path, "N", "none", 5), 0);
  EXPECT_EQ(GetProfileInt(path, "N", "empty", 5), 5);
  EXPECT_EQ(GetProfileInt(path, "N", "quoted", 5), 7);
  EXPECT_EQ(GetProfileInt(path, "N", "spaced", 5), 9);
  EXPECT_EQ(GetProfileInt(path, "N", "missing", 5), 5);
  EXPECT_EQ(GetProfileInt(dir / "missing.ini", "N", "plain", -3), -3);
}

TEST(Profile, WritingCreatesFileSectionAndKey) {
  test::TempDir dir;
  std::string path = dir / "new.ini";
  ASSERT_TRUE(WriteProfileText(path, "WebPostCycles", "StatusPID", "1234"));
  EXPECT_EQ(GetProfileText(path, "WebPostCycles", "StatusPID", "", 100), "1234");

  ASSERT_TRUE(WriteProfileText(path, "WebPostCycles", "StatusCycle", "0"));
  ASSERT_TRUE(WriteProfileText(path, "Other", "Key", "v"));
  ASSERT_TRUE(WriteProfileText(path, "webpostcycles", "STATUSPID", ""));
  EXPECT_EQ(GetProfileText(path, "WebPostCycles", "StatusPID", "DEF", 100), "");
  EXPECT_EQ(GetProfileInt(path, "WebPostCycles", "StatusCycle", 9), 0);
  EXPECT_EQ(GetProfileText(path, "Other", "Key", "", 100), "v");
  EXPECT_EQ(GetProfileInt(path, "WebPostCycles", "StatusPID", 9), 9);
#ifndef _WIN32
  struct stat st {};
  EXPECT_TRUE(stat(path.c_str(), &st) == 0 && (st.st_mode & 07) == 0) << "others keep out";
#endif
}

TEST(Profile, WritingKeepsTheRestOfTheFile) {
  test::TempDir dir;
  std::string path = dir / "keep.ini";
  test::WriteFileBytes(path,
                       "; agent settings\r\n[Main]\r\nA = \"1\"\r\nB=2\r\n\r\n[Next]\r\nC=3\r\n");
  ASSERT_TRUE(WriteProfileText(path, "main", "b", "twenty"));
  ASSERT_TRUE(WriteProfileText(path, "Main", "New", "n"));
  ASSERT_TRUE(WriteProfileText(path, "Next", "C", "33"));
  EXPECT_EQ(GetProfileText(path, "Main", "A", "", 100), "1");
  EXPECT_EQ(GetProfileText(path, "Main", "B", "", 100), "twenty");
  EXPECT_EQ(GetProfileText(path, "Main", "New", "", 100), "n");
  EXPECT_EQ(GetProfileText(path, "Next", "C", "", 100), "33");
  std::string text = test::ReadFileBytes(path);
  // The key keeps its spelling in the file, a new key goes after the section's last line,
  // and nothing else moves.
  EXPECT_EQ(text,
            "; agent settings\r\n[Main]\r\nA = \"1\"\r\nB=twenty\r\nNew=n\r\n\r\n[Next]\r\n"
            "C=33\r\n");
}

TEST(Profile, APathPastTheOldLimitIsReadAndWritten) {
  test::TempDir dir;
  const std::filesystem::path folder = dir.path() / std::string(150, 'a') / std::string(150, 'b');
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "VemtuStatus.INI").string();
  ASSERT_TRUE(WriteProfileText(path, "WebPostCycles", "StatusPID", "77"));
  EXPECT_EQ(GetProfileText(path, "WebPostCycles", "StatusPID", "", 99), "77");
}

TEST(Profile, WritingNeverCreatesTheFolder) {
  test::TempDir dir;
  std::string path = dir / "absent/x.ini";
  EXPECT_FALSE(WriteProfileText(path, "S", "K", "V"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "absent"));
}

TEST(Profile, AUtf16FileIsReadAndStaysUtf16) {
  test::TempDir dir;
  std::string path = dir / "wide.ini";
  for (bool big_endian : {false, true}) {
    std::string bytes = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : std::string("[Sec]\r\nKey=Value\r\n"))
      bytes += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
    test::WriteFileBytes(path, bytes);
    EXPECT_EQ(GetProfileText(path, "Sec", "Key", "DEF", 100), "Value") << big_endian;
    ASSERT_TRUE(WriteProfileText(path, "Sec", "New", "n"));
    EXPECT_EQ(GetProfileText(path, "Sec", "New", "DEF", 100), "n");
    EXPECT_EQ(GetProfileText(path, "Sec", "Key", "DEF", 100), "Value");
    EXPECT_EQ(test::ReadFileBytes(path).substr(0, 4), bytes.substr(0, 4));
  }
}

#ifndef _WIN32
TEST(Profile, AWriteThatDoesNotFitLeavesTheFileAsItWas) {
  // A child whose files may not grow past 4096 bytes, as on a full disk.
  test::TempDir dir;
  std::string path = dir / "WebPostConfig.INI";
  std::string text = "[Write]\r\nNumberOfBytesToWrite=4096\r\n";
  text += std::string(4096 - text.size() - 2, ';') + "\r\n";
  test::WriteFileBytes(path, text);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    _exit(WriteProfileText(path, "Write", "NumberOfBytesToWrite", "40960") ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write must fail";
  EXPECT_EQ(test::ReadFileBytes(path), text);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Profile, WrittenValueEndsAtALineBreak) {
  // A line break in a value would add lines (and keys) to the file.
  test::TempDir dir;
  std::string path = dir / "inject.ini";
  ASSERT_TRUE(WriteProfileText(path, "S", "K", "1\r\n[Evil]\r\nX=2"));
  EXPECT_EQ(GetProfileText(path, "S", "K", "", 100), "1");
  EXPECT_EQ(GetProfileText(path, "Evil", "X", "none", 100), "none");
}

TEST(Profile, NulByteEndsItsLine) {
  test::TempDir dir;
  std::string path = dir / "nul.ini";
  const char text[] = "[S]\r\nK=ab\0cd\r\nL=x\r\n";
  test::WriteFileBytes(path, std::string(text, sizeof text - 1));
  EXPECT_EQ(GetProfileText(path, "S", "K", "", 100), "ab");
  EXPECT_EQ(GetProfileText(path, "S", "L", "", 100), "x");
  ASSERT_TRUE(WriteProfileText(path, "S", "K", "new"));
  EXPECT_EQ(GetProfileText(path, "S", "K", "", 100), "new");
  EXPECT_EQ(GetProfileText(path, "S", "L", "", 100), "x");
}

// A child process that holds something of the INI until the test ends.
class Holder {
 public:
  explicit Holder(const std::function<void()>& hold) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      hold();
      (void)!write(ready[1], "1", 1);
      pause();
      _exit(0);
    }
    char byte;
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    close(ready[1]);
  }
  ~Holder() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

// What others may have done to an INI or its folder; each write still lands in the same
// file at once, keeps what the file carries, and adds nothing beside it.
struct SurroundingCase {
  const char* what;
  std::function<void(const std::string& folder, const std::string& path)> prepare;
};

TEST(Profile, WritesInPlaceWhateverSurroundsTheFile) {
  const SurroundingCase cases[] = {
      {"extended attribute, owner and mode",
       [](const std::string&, const std::string& path) {
         ASSERT_EQ(setxattr(path.c_str(), "user.label", "kept", 4, 0), 0);
         ASSERT_EQ(chmod(path.c_str(), 0640), 0);
         if (geteuid() == 0) {
           ASSERT_EQ(chown(path.c_str(), 4321, 4321), 0);
         }
       }},
      {"a folder planted at <name>.new",
       [](const std::string&, const std::string& path) {
         std::filesystem::create_directory(path + ".new");
       }},
      {"a folder that takes no new names",
       [](const std::string& folder, const std::string&) {
         ASSERT_EQ(geteuid() == 0 ? test::RunProgram({"/usr/bin/chattr", "+i", folder})
                                  : chmod(folder.c_str(), 0555), 0);
       }},
      {"nothing but the reader holding flock -x", [](const std::string&, const std::string&) {}},
  };
  for (const SurroundingCase& c : cases) {
    test::TempDir dir;
    const std::string folder = dir.path().string();
    const std::string path = dir / "WebPostConfig.INI";
    test::WriteFileBytes(path, "[S]\r\nK=old\r\n");
    c.prepare(folder, path);
    Holder reader([&] { flock(open(path.c_str(), O_RDONLY), LOCK_EX); });
    struct stat was {}, now {};
    ASSERT_EQ(stat(path.c_str(), &was), 0);
    const auto listing = [&] { return std::distance(std::filesystem::directory_iterator(folder), {}); };
    const auto names = listing();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WriteProfileText(path, "S", "K", "a longer new value")) << c.what;
    EXPECT_EQ(GetProfileText(path, "S", "K", "", 99), "a longer new value") << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500)) << c.what;

    ASSERT_EQ(stat(path.c_str(), &now), 0);
    EXPECT_TRUE(now.st_ino == was.st_ino && now.st_mode == was.st_mode &&
                now.st_uid == was.st_uid && now.st_gid == was.st_gid) << c.what;
    char label[8] = {};
    const ssize_t labelled = getxattr(path.c_str(), "user.label", label, sizeof label);
    EXPECT_EQ(std::string(label, labelled > 0 ? labelled : 0), &c == cases ? "kept" : "") << c.what;
    EXPECT_EQ(listing(), names) << c.what;
    test::RunProgram({"/usr/bin/chattr", "-i", folder});
    chmod(folder.c_str(), 0755);
  }
}

TEST(Profile, ARunGivesUpLockWaitsWithinItsBudgetAndSaysSoOnce) {
  test::TempDir dir;
  const std::string path = dir / "VemtuStatus.INI";
  test::WriteFileBytes(path, "[S]\r\nK=v\r\n");
  Holder stopped([&] { (new NamedMutex(NamedMutex::Create(ProfileLockName(path))))->Wait(0); });
  ProfileFiles run;
  int reports = 0;
  run.ReportGivenUpWaits([&](const std::string& file, int) { reports += file == path; });
  const auto start = std::chrono::steady_clock::now();
  for (int access = 0; access < 6; ++access) {
    EXPECT_EQ(run.GetText(path, "S", "K", "DEF", 99), "DEF");
    EXPECT_FALSE(run.WriteText(path, "S", "K", "w"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(kProfileLockBudgetMs + 1000));
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(test::ReadFileBytes(path), "[S]\r\nK=v\r\n");
}

TEST(Profile, WritingTheTextAKeyHoldsLeavesTheFileInPlace) {
  test::TempDir dir;
  std::string path = dir / "same.ini";
  test::WriteFileBytes(path, "[S]\nK=0\nQ = \"0\"\n");
  struct stat was {}, now {};
  ASSERT_TRUE(stat(path.c_str(), &was) == 0 && WriteProfileText(path, "s", "k", "0"));
  ASSERT_TRUE(stat(path.c_str(), &now) == 0 && WriteProfileText(path, "S", "Q", "0"));
  EXPECT_TRUE(now.st_ino == was.st_ino && test::ReadFileBytes(path) == "[S]\nK=0\nQ=0\n");
}
#endif

}  // namespace
}  // namespace vemtu::platform
