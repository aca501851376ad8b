#include "log/log_writer.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "support/test_files.h"

namespace vemtu {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

std::string In(const TempDir& dir, const char* fixed_relative) {
  return dir.path().string() + platform::NativePath(fixed_relative);
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
    fields.push_back(line.substr(from, tab - from));
  }
  fields.push_back(line.substr(from));  // what follows the last TAB: CR LF
  return fields;
}

TEST(FormatLogTimestamp, UsesTwelveHourClockWithLeadingZeros) {
  struct Case {
    platform::LocalTime time;
    const char* expected;
  } cases[] = {
      {{2026, 1, 2, 0, 5, 9}, "01/02/2026 12:05:09 AM"},
      {{2026, 12, 31, 12, 0, 0}, "12/31/2026 12:00:00 PM"},
      {{2026, 7, 4, 13, 30, 45}, "07/04/2026 01:30:45 PM"},
      {{2026, 7, 4, 11, 59, 59}, "07/04/2026 11:59:59 AM"},
      {{2026, 7, 4, 23, 59, 59}, "07/04/2026 11:59:59 PM"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatLogTimestamp(c.time), c.expected);
  EXPECT_TRUE(std::regex_match(FormatLogTimestamp(),
                               std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M)")));
}

TEST(FormatLogLine, HasTenTabEndedFieldsAndCrLf) {
  EXPECT_EQ(FormatLogLine("T", 9999, 0, "MSG: Started Web Posting", "", "", "", ""),
            "T\t9999\t\t0\t0\tMSG: Started Web Posting\t\t\t\t\t\r\n");
  EXPECT_EQ(FormatLogLine("", 0, -2147024894, "m", "e", "d1", "d2", "d3"),
            "\t0\t\t-2147024894\t0\tm\te\td1\td2\td3\t\r\n");
  EXPECT_EQ(FormatLogLine("T", 0, -2147483647 - 1, "", "", "", "", ""),
            "T\t0\t\t-2147483648\t0\t\t\t\t\t\t\r\n");
  // A message holding a TAB simply spreads over two columns.
  EXPECT_EQ(FormatLogLine("T", 0, 12029, "ERR\tWinHTTP.ZHTTPOpenRequest", "", "", "", ""),
            "T\t0\t\t12029\t0\tERR\tWinHTTP.ZHTTPOpenRequest\t\t\t\t\t\r\n");
}

TEST(WriteLogEntry, CreatesMissingFoldersAndWritesOneLine) {
  TempDir dir;
  std::string log = In(dir, "\\ApplicationLog\\WebPost\\WebPostExe\\WebPostStatus.log");
  EXPECT_TRUE(WriteLogEntry(log, kEventProgress, 0, "MSG: Started Web Posting"));
  std::string text = ReadFileBytes(log);
  std::vector<std::string> fields = Fields(text);
  ASSERT_EQ(fields.size(), 11u) << text;
  EXPECT_EQ(fields[1], "9999");
  EXPECT_EQ(fields[2], "");
  EXPECT_EQ(fields[3], "0");
  EXPECT_EQ(fields[4], "0");
  EXPECT_EQ(fields[5], "MSG: Started Web Posting");
  EXPECT_EQ(fields[6], "");  // no error, no lookup
  EXPECT_EQ(fields[10], "\r\n");

  EXPECT_TRUE(WriteLogEntry(log, kEventError, 5, "m", nullptr, "d2"));
  EXPECT_EQ(ReadFileBytes(log).substr(0, text.size()), text);  // appended, not replaced
}

TEST(WriteLogEntry, ErrorTextForANonZeroNumberLosesItsLineBreak) {
  TempDir dir;
  std::string log = In(dir, "\\tfr_x.log");
  WriteLogEntry(log, kEventError, 2, "ERR: open", "d1", "d2", "d3");
  std::vector<std::string> fields = Fields(ReadFileBytes(log));
  ASSERT_EQ(fields.size(), 11u);
  EXPECT_EQ(fields[3], "2");
  EXPECT_FALSE(fields[6].empty());
  EXPECT_EQ(fields[6].find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(fields[7], "d1");
  EXPECT_EQ(fields[9], "d3");
}

TEST(LogLockName, ReplacesSeparatorsAndColonsKeepingTheLength) {
  EXPECT_EQ(LogLockName("C:\\a\\b.log"), "C--a-b.log");
  EXPECT_EQ(LogLockName("/tmp/x/WebPostStatus.log"), "-tmp-x-WebPostStatus.log");
  // Two spellings of one path get two locks: the name is not normalised.
  EXPECT_NE(LogLockName("C:\\a\\\\b.log"), LogLockName("C:\\a\\b.log"));
}

TEST(AppendLogText, RestartsOnlyAFileLargerThanTheLimitKeepingOneGeneration) {
  TempDir dir;
  std::string at_limit = In(dir, "\\at_limit.log");
  std::string over_limit = In(dir, "\\over_limit.log");
  WriteFileBytes(at_limit, std::string(2097152, 'a'));
  WriteFileBytes(over_limit, std::string(2097153, 'b'));

  EXPECT_TRUE(AppendLogText(at_limit, "line\r\n"));
  EXPECT_TRUE(AppendLogText(over_limit, "line\r\n"));

  std::string grown = ReadFileBytes(at_limit);
  EXPECT_EQ(grown.size(), 2097152u + 6u);
  EXPECT_EQ(grown.substr(2097152), "line\r\n");
  EXPECT_EQ(ReadFileBytes(over_limit), "line\r\n");
  EXPECT_EQ(ReadFileBytes(over_limit + ".1"), std::string(2097153, 'b'));  // the generation kept

  // The grown file is now over the limit: the next text starts it afresh, its old text
  // replacing an older generation.
  WriteFileBytes(at_limit + ".1", "older");
  EXPECT_TRUE(AppendLogText(at_limit, "next\r\n"));
  EXPECT_EQ(ReadFileBytes(at_limit), "next\r\n");
  EXPECT_EQ(ReadFileBytes(at_limit + ".1"), grown);
}

TEST(AppendLogText, RefusesAnEmptyPathAndAnUnopenableFile) {
  TempDir dir;
  EXPECT_FALSE(AppendLogText("", "x"));
  // A folder where the file should be cannot be opened as a file.
  std::string folder = In(dir, "\\taken");
  CreateDirectoryPath(folder);
  EXPECT_FALSE(AppendLogText(folder, "x"));
}

TEST(AppendLogText, ConcurrentWritersLoseNoLineAndSplitNone) {
  TempDir dir;
  std::string log = In(dir, "\\shared.log");
  constexpr int kWriters = 4, kLines = 150;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&log, w] {
      std::string line = "writer " + std::to_string(w) + std::string(100, 'x') + "\r\n";
      for (int i = 0; i < kLines; ++i) AppendLogText(log, line);
    });
  }
  for (std::thread& t : writers) t.join();

  std::string text = ReadFileBytes(log);
  std::regex whole("writer [0-3]x{100}\r\n");
  int lines = 0;
  for (std::size_t from = 0; from < text.size(); ++lines) {
    std::size_t end = text.find("\r\n", from);
    ASSERT_NE(end, std::string::npos);
    ASSERT_TRUE(std::regex_match(text.substr(from, end + 2 - from), whole));
    from = end + 2;
  }
  EXPECT_EQ(lines, kWriters * kLines);
}

TEST(CreateDirectoryPath, CreatesEveryParentAndIgnoresExistingFolders) {
  TempDir dir;
  std::string deep = In(dir, "\\a\\b\\c\\d");
  CreateDirectoryPath(deep);
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  CreateDirectoryPath(deep);  // all present: nothing changes, nothing fails
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  WriteFileBytes(In(dir, "\\a\\b\\c\\d\\keep.txt"), "k");
  CreateDirectoryPath(In(dir, "\\a\\b"));
  EXPECT_EQ(ReadFileBytes(In(dir, "\\a\\b\\c\\d\\keep.txt")), "k");
}

}  // namespace
}  // namespace vemtu
