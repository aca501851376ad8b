#include "posting/post_matching_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "log/log_writer.h"
#include "packing/content_coding.h"
#include "packing/raw_deflate.h"
#include "posting/transfer_log_copy.h"
#include "posting_fixture.h"

namespace vemtu::test {
namespace {

RoutingEntry Route(const char* name, int ig, int del) {
  RoutingEntry entry = EmptyRoutingEntry();
  std::strncpy(entry.name, name, sizeof entry.name - 1);
  entry.ig = ig;
  entry.del = del;
  return entry;
}

class PostMatchingFilesTest : public ::testing::Test, public PostingFixture {
 protected:
  explicit PostMatchingFilesTest(const std::string& category = "AlertTkt")
      : PostingFixture(category), session(ctx, nullptr, FakeMethods()) {
    session.failure_pause_ms = 0;
  }
  void Run(int pack_flag, const std::string& url = "http://h/dc") {
    PostMatchingFiles(session, routing, ctx.category_folder.str(),
                      std::string(1, platform::kPathSeparator) + "*.*", url, pack_flag);
  }
  PostingSession session;
  RoutingTable routing;
};

TEST_F(PostMatchingFilesTest, FilesSetAsideOrLeftFollowTheirRows) {
  routing.InsertRoutingEntry(Route("IGN", 1, 0));
  routing.InsertRoutingEntry(Route("del", 0, 1));
  routing.InsertRoutingEntry(Route("BOTH", 1, 1));
  WriteFileBytes(Category("report.xml"), "new");
  WriteFileBytes(Error("report.xml"), "old");
  WriteFileBytes(Category("IGN_1.xml"), "i");
  WriteFileBytes(Category("DEL_1.xml"), "d");
  WriteFileBytes(Category("BOTH_1.xml"), "b");
  WriteFileBytes(Category("ABC_N_0.xml"), "");
  std::filesystem::create_directories(Category("SUB_N_dir.xml"));
  Run(0);
  EXPECT_TRUE(sends.empty());
  EXPECT_EQ(ReadFileBytes(Error("report.xml")), "old");  // never replaced
  EXPECT_EQ(ReadFileBytes(Error("report.xml.1")), "new");
  EXPECT_FALSE(FileExists(Category("report.xml")));
  EXPECT_TRUE(FileExists(Category("IGN_1.xml")));
  EXPECT_TRUE(FileExists(Error("DEL_1.xml")));
  EXPECT_TRUE(FileExists(Category("BOTH_1.xml")));
  EXPECT_TRUE(FileExists(Error("ABC_N_0.xml")));
  EXPECT_TRUE(FileExists(Category("SUB_N_dir.xml")));
  // None of these writes a log entry.
  EXPECT_FALSE(FileExists(TransferLog("ABC")));
  EXPECT_FALSE(FileExists(TransferLog("DEL")));
  EXPECT_FALSE(FileExists(TransferLog("report.xml")));
}

TEST_F(PostMatchingFilesTest, APostedFileLeavesItsTransferLogByteForByte) {
  results = {{5, 1}};
  const std::string path = Category("ABC_N_1.xml");
  WriteFileBytes(path, "hello\r\nworld");
  Run(0);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].file_path, path);
  EXPECT_EQ(sends[0].body, "hello\r\nworld");
  EXPECT_EQ(sends[0].request_path, "dc/tfr_ABC.asp?mmid=M1&sid=S1&rid=R1&rty=T1");
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(WithoutTimestamps(ReadFileBytes(TransferLog("ABC"))),
            LogLine("MSG: WebPosting File", "http://h/dc/tfr_ABC.asp", path) +
                LogLine("MSG: Web Post Data") + "hello\r\nworld\r\n" +
                LogLine("MSG: Successfully WebPosted File", path));
}

TEST_F(PostMatchingFilesTest, TheDataCopyHandlesBlockBoundaries) {
  results = {{5, 1}};
  for (std::size_t size : {4095u, 4096u, 8192u, 10000u}) {
    std::string body(size, 'a');
    body[size - 1] = 'z';
    std::filesystem::remove(TransferLog("B"));
    WriteFileBytes(Category("B_N_1.txt"), body);
    Run(0);
    std::string log = ReadFileBytes(TransferLog("B"));
    EXPECT_NE(log.find("\t\t\t\t\r\n" + body + "\r\n"), std::string::npos) << size;
  }
}

// The copy leaves 64 KiB below the log's limit for the lines its post still writes.
TEST_F(PostMatchingFilesTest, TheDataCopyStopsBelowTheLogSizeLimitAndGivesTheWholeSize) {
  const std::string path = Category("B_N_1.txt");
  WriteFileBytes(path, std::string(kLogSizeLimit + 10, 'a'));
  platform::File file = platform::File::Open(path, platform::OpenMode::kReadExisting);
  CopyDataToTransferLog({&file, file.IdentityAtOpen(), {}}, TransferLog("B"));
  const std::string log = ReadFileBytes(TransferLog("B"));
  const std::size_t copy_at = log.find("\t\t\t\t\r\n") + 6;
  ASSERT_LT(copy_at, log.size());
  EXPECT_EQ(log.substr(copy_at), std::string(kLogSizeLimit - 65536 - copy_at, 'a') +
                                     "\\[cut: 2097162 bytes]\r\n");
}

TEST_F(PostMatchingFilesTest, AFailedPostLeavesTheFileAndTheNextFileStartsAgain) {
  WriteFileBytes(Category("ABC_N_1.xml"), "x");
  Run(0);
  EXPECT_EQ(SentNumbers(), (std::vector<int>{5, 6, 7}));
  EXPECT_TRUE(FileExists(Category("ABC_N_1.xml")));
}

TEST_F(PostMatchingFilesTest, AwkwardNamesArePostedWithTheirBytesUnchanged) {
  results = {{5, 1}};
  const std::string name = "A B%&\xC3\xA9_N_1.xml";
  WriteFileBytes(Category(name), "x");
  Run(0, "http://h");
  ASSERT_EQ(sends.size(), 1u);
  // The escape character and the bytes past ASCII are escaped here; the transport
  // escapes the blank.
  EXPECT_EQ(sends[0].request_path, "tfr_A B%25&%C3%A9.asp?mmid=M1&sid=S1&rid=R1&rty=T1");
  EXPECT_TRUE(FileExists(TransferLog("A B%&\xC3\xA9")));
}

TEST_F(PostMatchingFilesTest, NothingHappensForAUrlWithoutScheme) {
  WriteFileBytes(Category("report.xml"), "x");
  Run(0, "h/dc");
  EXPECT_TRUE(FileExists(Category("report.xml")));
}

TEST_F(PostMatchingFilesTest, PathsPastTheirLimitLeaveTheFileWhereItIs) {
  std::string folder = ctx.category_folder.str();
  while (folder.size() < 200) folder = Join(folder, std::string(40, 'd'));
  const std::string name = "ABC_N_" + std::string(200, 'n') + ".xml";
  WriteFileBytes(Join(folder, name), "x");
  WriteFileBytes(Join(folder, "nounderscore" + std::string(200, 'n')), "x");
  results = {{5, 1}};
  PostMatchingFiles(session, routing, folder, std::string(1, platform::kPathSeparator) + "*.*",
                    "http://h", 0);
  EXPECT_TRUE(sends.empty());
  EXPECT_TRUE(FileExists(Join(folder, name)));
  EXPECT_TRUE(FileExists(Join(folder, "nounderscore" + std::string(200, 'n'))));
}

TEST_F(PostMatchingFilesTest, AlertTktPacksOnlyTheYNamesWhenTheFlagIsOff) {
  results = {{5, 1}};
  WriteFileBytes(Category("ABC_Y_1.xml"), "<a>1</a>");
  WriteFileBytes(Category("ABC_N_1.xml"), "<a>2</a>");
  WriteFileBytes(Category("ABC_y_2.xml1"), "<a>3</a>");
  Run(0);
  ASSERT_EQ(sends.size(), 3u);
  for (const auto& s : sends) {
    bool packed =
        s.file_path.size() > 4 && s.file_path.compare(s.file_path.size() - 4, 4, ".zip") == 0;
    bool y = s.file_path.find("_N_") == std::string::npos;
    EXPECT_EQ(packed, y) << s.file_path;
    if (packed) {
      EXPECT_NE(s.body.find("<a><![CDATA["), std::string::npos) << s.body;
    }
  }
  for (auto name : {"ABC_Y_1.xml", "ABC_N_1.xml", "ABC_y_2.xml1", "ABC_Y_1.zip", "ABC_y_2.zip"})
    EXPECT_FALSE(FileExists(Category(name))) << name;
}

TEST_F(PostMatchingFilesTest, APackingFailureMovesTheSourceAside) {
  results = {{5, 1}};
  const std::string source = Category("BIN_Y_1.xml");
  WriteFileBytes(source, std::string("\x00\x01\x02 no element here", 20));
  Run(1);
  EXPECT_TRUE(sends.empty());
  EXPECT_TRUE(FileExists(Error("BIN_Y_1.xml")));
  EXPECT_FALSE(FileExists(Category("BIN_Y_1.zip")));
  EXPECT_EQ(WithoutTimestamps(ReadFileBytes(TransferLog("BIN"))),
            LogLine("MSG: WebPosting File", "http://h/dc/tfr_BIN.asp", source) +
                LogLine("ERR: Unable to compress file", source));
}

TEST_F(PostMatchingFilesTest, APackedCopyThatCannotBeWrittenLeavesAGoodFileInPlace) {
  // A folder where the packed copy belongs: every write of the copy fails, as on a full
  // disk. The documents are good, so they stay for the next run instead of going aside.
  results = {{5, 1}};
  const std::string source = Category("ABC_Y_1.xml");
  WriteFileBytes(source, "<a>good</a>");
  std::filesystem::create_directories(Category("ABC_Y_1.zip"));
  Run(1);
  EXPECT_TRUE(sends.empty());
  EXPECT_EQ(ReadFileBytes(source), "<a>good</a>");
  EXPECT_FALSE(FileExists(Error("ABC_Y_1.xml")));
  EXPECT_EQ(WithoutTimestamps(ReadFileBytes(TransferLog("ABC"))),
            LogLine("MSG: WebPosting File", "http://h/dc/tfr_ABC.asp", source) +
                LogLine("ERR: Unable to compress file", source));
  // Once the disk takes the copy again, the same file is posted.
  std::filesystem::remove(Category("ABC_Y_1.zip"));
  Run(1);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_FALSE(FileExists(source));
}

#if !defined(_WIN32)
TEST_F(PostMatchingFilesTest, AWriteErrorPartWayThroughThePackedCopyLeavesTheFile) {
  // A child process whose files may not grow past 16 KiB: the packed copy's write fails
  // part-way (EFBIG), as it would on a full disk.
  const std::string source = Category("BIG_Y_1.xml");
  std::string text;
  std::uint32_t state = 12345;
  for (int i = 0; i < 65536; ++i) {
    state = state * 1103515245u + 12345u;
    text += static_cast<char>('a' + (state >> 16) % 26);
  }
  const std::string doc = "<a>" + text + "</a>";
  WriteFileBytes(source, doc);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{16384, 16384};
    setrlimit(RLIMIT_FSIZE, &limit);
    results = {{5, 1}};
    Run(1);
    _exit(sends.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "nothing may be posted from a copy cut short";
  EXPECT_EQ(ReadFileBytes(source), doc);
  EXPECT_FALSE(FileExists(Error("BIG_Y_1.xml")));
  EXPECT_FALSE(FileExists(Category("BIG_Y_1.zip")));
  EXPECT_NE(ReadFileBytes(TransferLog("BIG")).find("ERR: Unable to compress file"),
            std::string::npos);
}
#endif

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
TEST_F(PostMatchingFilesTest, RunningOutOfMemoryWhilePackingLeavesTheFile) {
  const std::string source = Category("MEM_Y_1.xml");
  const std::string doc = "<a>" + std::string(64u << 20, 'x') + "</a>";
  WriteFileBytes(source, doc);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Room for the run itself, not for the document.
    unsigned long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%lu", &pages) != 1) _exit(2);
    rlim_t room = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (16u << 20);
    rlimit limit{room, room};
    setrlimit(RLIMIT_AS, &limit);
    results = {{5, 1}};
    Run(1);
    _exit(sends.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadFileBytes(source).size(), doc.size());
  EXPECT_FALSE(FileExists(Error("MEM_Y_1.xml")));
}
#endif

TEST_F(PostMatchingFilesTest, AFailedPackedPostKeepsTheSourceAndNoCopy) {
  WriteFileBytes(Category("ABC_Y_1.xml"), "<a>1</a>");
  Run(1);
  EXPECT_EQ(sends.size(), 3u);
  EXPECT_TRUE(FileExists(Category("ABC_Y_1.xml")));
  EXPECT_FALSE(FileExists(Category("ABC_Y_1.zip")));
}

TEST_F(PostMatchingFilesTest, ARefusedPackedCopyIsNeverRetryRenamedOverItsSource) {
  // Method 7 renames a refused file to its retry name when it is asked to, as the real
  // one does; a copy "LOG_Y_1.zip" renamed that way would take the name of its source.
  SendMethodTable table = FakeMethods();
  std::vector<bool> renames;
  table[6].function = [&](PostingSession&, const SendTarget& target) {
    sends.push_back({7, target.file_path, ReadFileBytes(target.file_path), target.request_path});
    renames.push_back(target.retry_rename);
    if (target.retry_rename) {
      std::filesystem::rename(target.file_path, std::string(target.file_path) + "1");
    }
    return 0;
  };
  PostingSession refusing(ctx, nullptr, table);
  refusing.failure_pause_ms = 0;
  WriteFileBytes(Category("LOG_Y_1.zip1"), "<a>zip1</a>");
  WriteFileBytes(Category("LOG_Y_2.ZIP1"), "<a>ZIP1</a>");
  WriteFileBytes(Category("ABC_Y_1.xml"), "<a>1</a>");
  PostMatchingFiles(refusing, routing, ctx.category_folder.str(),
                    std::string(1, platform::kPathSeparator) + "*.*", "http://h/dc", 0);
  EXPECT_EQ(renames, std::vector<bool>(3, false));
  EXPECT_EQ(ReadFileBytes(Category("LOG_Y_1.zip1")), "<a>zip1</a>");
  EXPECT_EQ(ReadFileBytes(Category("LOG_Y_2.ZIP1")), "<a>ZIP1</a>");
  EXPECT_EQ(ReadFileBytes(Category("ABC_Y_1.xml")), "<a>1</a>");
  for (const char* copy : {"LOG_Y_1.zip", "LOG_Y_2.zip", "ABC_Y_1.zip", "ABC_Y_1.zip1"}) {
    EXPECT_FALSE(FileExists(Category(copy))) << copy;
  }
}

class StatusPostingTest : public PostMatchingFilesTest {
 protected:
  StatusPostingTest() : PostMatchingFilesTest("Status") {}
};

TEST_F(StatusPostingTest, StatusFilesArePackedInTheirEnvelope) {
  results = {{5, 1}};
  WriteFileBytes(Category("PSTAT_1.txt"), "x");
  Run(1);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].file_path, Category("PSTAT_1.zip"));
  EXPECT_NE(sends[0].body.find("<PSTAT><![CDATA["), std::string::npos) << sends[0].body;
  EXPECT_FALSE(FileExists(Category("PSTAT_1.txt")));
  EXPECT_FALSE(FileExists(Category("PSTAT_1.zip")));
}

// The document inside a packed copy: the root's payload decoded and inflated.
std::string InnerDocument(const std::string& packed) {
  std::size_t open = packed.find("<![CDATA[");
  std::size_t close = packed.rfind("]]>");
  if (open == std::string::npos || close == std::string::npos || close < open) return {};
  std::string compressed, inner;
  if (!packing::ContentCoding::DecodeBase64(packed.substr(open + 9, close - open - 9),
                                            compressed) ||
      !packing::InflateRaw(compressed, inner)) {
    return {};
  }
  return inner;
}

TEST_F(StatusPostingTest, AStatusTextHoldingTheSectionEndArrivesWhole) {
  results = {{5, 1}};
  WriteFileBytes(Category("PSTAT_1.txt"), "a]]>b]]]>c<![CDATA[d]]");
  Run(1);
  ASSERT_EQ(sends.size(), 1u);
  // Each "]]>" closes one section after "]]" and the next opens before ">".
  EXPECT_NE(InnerDocument(sends[0].body)
                .find("<data><![CDATA[a]]]]><![CDATA[>b]]]]]><![CDATA[>c<![CDATA[d]]]]></data>"),
            std::string::npos)
      << InnerDocument(sends[0].body);
  EXPECT_FALSE(FileExists(Category("PSTAT_1.txt")));
}

TEST_F(StatusPostingTest, AStatusTextXmlCannotCarryGoesAsideUnposted) {
  results = {{5, 1}};
  const std::string source = Category("PSTAT_1.txt");
  WriteFileBytes(source, std::string("before\0after", 12));
  Run(1);
  EXPECT_TRUE(sends.empty());
  EXPECT_EQ(ReadFileBytes(Error("PSTAT_1.txt")), std::string("before\0after", 12));
  EXPECT_FALSE(FileExists(Category("PSTAT_1.zip")));
  EXPECT_EQ(WithoutTimestamps(ReadFileBytes(TransferLog("PSTAT"))),
            LogLine("MSG: WebPosting File", "http://h/dc/tfr_PSTAT.asp", source) +
                LogLine("ERR: Unable to compress file", source));
}

TEST_F(StatusPostingTest, AStatusCopyThatCannotBeWrittenLeavesTheFileInPlace) {
  results = {{5, 1}};
  WriteFileBytes(Category("PSTAT_1.txt"), "fine");
  std::filesystem::create_directories(Category("PSTAT_1.zip"));
  Run(1);
  EXPECT_TRUE(sends.empty());
  EXPECT_EQ(ReadFileBytes(Category("PSTAT_1.txt")), "fine");
  EXPECT_FALSE(FileExists(Error("PSTAT_1.txt")));
}

}  // namespace
}  // namespace vemtu::test
