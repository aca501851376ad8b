#include "driver/posting_cycle.h"

#include <cstdio>

#include <gtest/gtest.h>

#include <regex>

#include "driver/run_checks.h"
#include "posting/routing_table.h"
#include "posting_fixture.h"

namespace vemtu::test {
namespace {

// The (display URL, file) pair of every "MSG: WebPosting File" line of a transfer log:
// one per file a posting call took, in the order of the calls.
std::vector<std::string> Offers(const std::string& log) {
  static const std::regex offer("MSG: WebPosting File\t\t([^\t]*)\t([^\t]*)\t");
  std::vector<std::string> offers;
  for (std::sregex_iterator it(log.begin(), log.end(), offer), end; it != end; ++it) {
    std::string path = (*it)[2];
    offers.push_back((*it)[1].str() + " " + path.substr(path.find_last_of("/\\") + 1));
  }
  return offers;
}

class PassesTest : public ::testing::Test, public PostingFixture {
 protected:
  explicit PassesTest(const std::string& category)
      : PostingFixture(category), session(ctx, nullptr, FakeMethods()) {
    session.failure_pause_ms = 0;
    ctx.primary_site_url = "http://p";
    ctx.secondary_site_url = "http://s";
  }
  PostingSession session;
  RoutingTable routing;
};

class AlertPassesTest : public PassesTest {
 protected:
  AlertPassesTest() : PassesTest("ATPostLogs") {}
};

TEST_F(AlertPassesTest, EveryPatternGoesToThePrimaryThenTheSecondarySiteStepByStep) {
  // Every post fails, so each file stays and is offered again by each later pattern it
  // matches: the offers spell out the 18 posting calls in their order.
  WriteFileBytes(Category("A_N_1.txt"), "t");
  WriteFileBytes(Category("A_N_2.xml"), "x");
  WriteFileBytes(Category("A_Y_3.txt"), "<y>3</y>");
  WriteFileBytes(Category("A_Y_4.xml"), "<y>4</y>");
  RunCategoryWork(session, routing);
  std::vector<std::string> expected;
  auto add = [&](const char* site, std::initializer_list<const char*> names) {
    for (const char* name : names)
      expected.push_back(std::string("http://") + site + "/tfr_A.asp " + name);
  };
  for (const char* site : {"p", "s"}) add(site, {"A_N_1.txt", "A_N_2.xml"});  // step 1
  for (const char* site : {"p", "s"}) add(site, {"A_Y_3.txt", "A_Y_4.xml"});  // step 2
  for (const char* site : {"p", "s"}) add(site, {"A_N_1.txt", "A_N_2.xml"});  // step 3
  for (const char* site : {"p", "s"}) add(site, {"A_Y_3.txt", "A_Y_4.xml"});  // step 4
  std::vector<std::string> offers = Offers(ReadFileBytes(TransferLog("A")));
  ASSERT_EQ(offers.size(), expected.size() + 8) << "step 5 offers all four files to each site";
  EXPECT_EQ(std::vector<std::string>(offers.begin(), offers.begin() + 16), expected);
  for (std::size_t i = 16; i < 20; ++i) EXPECT_EQ(offers[i].rfind("http://p/", 0), 0u) << offers[i];
  for (std::size_t i = 20; i < 24; ++i) EXPECT_EQ(offers[i].rfind("http://s/", 0), 0u) << offers[i];
}

TEST_F(AlertPassesTest, AnEmptySiteIsSkipped) {
  ctx.secondary_site_url = "";
  WriteFileBytes(Category("A_N_1.txt"), "t");
  RunCategoryWork(session, routing);
  EXPECT_EQ(Offers(ReadFileBytes(TransferLog("A"))),
            std::vector<std::string>(3, "http://p/tfr_A.asp A_N_1.txt"));
  ctx.primary_site_url = "";
  std::filesystem::remove(TransferLog("A"));
  RunCategoryWork(session, routing);
  EXPECT_FALSE(FileExists(TransferLog("A")));
}

TEST_F(AlertPassesTest, PriorityNamesFollowTheirRoutingEntries) {
  RoutingEntry own = EmptyRoutingEntry();
  std::snprintf(own.name, sizeof own.name, "own");
  std::snprintf(own.url1, sizeof own.url1, "http://own");
  routing.InsertRoutingEntry(own);
  RoutingEntry both = EmptyRoutingEntry();
  std::snprintf(both.name, sizeof both.name, "both");
  std::snprintf(both.url1, sizeof both.url1, "http://u1");
  std::snprintf(both.url2, sizeof both.url2, "http://u2");
  routing.InsertRoutingEntry(both);
  for (const std::string& name : {std::string("own"), std::string("both"), std::string("none"),
                                  std::string(), std::string(93, 'x')})
    routing.PushPriorityName(name);
  for (const char* name : {"tfr_OWN_1.txt", "tfr_BOTH_1.txt", "tfr_NONE_1.txt"})
    WriteFileBytes(Category(name), "p");
  ctx.secondary_site_url = "";
  RunCategoryWork(session, routing);
  std::vector<std::string> offers = Offers(ReadFileBytes(TransferLog("tfr")));
  ASSERT_GE(offers.size(), 2u);
  EXPECT_EQ(offers[0], "http://own/tfr_tfr.asp tfr_OWN_1.txt");
  EXPECT_EQ(offers[1], "http://p/tfr_tfr.asp tfr_NONE_1.txt");  // no entry: the sites
  EXPECT_EQ(routing.priority_count(), 0u);
}

class StatusPassesTest : public PassesTest {
 protected:
  StatusPassesTest() : PassesTest("Status") {}
};

TEST_F(StatusPassesTest, TenCallsInTheirOrder) {
  WriteFileBytes(Category("S_1.txt"), "one");
  WriteFileBytes(Category("S_2.out"), "two");
  RunCategoryWork(session, routing);
  std::vector<std::string> offers = Offers(ReadFileBytes(TransferLog("S")));
  std::vector<std::string> expected;
  for (int step = 0; step < 2; ++step)
    for (const char* site : {"p", "s"})
      for (const char* name : {"S_1.txt", "S_2.out"})
        expected.push_back(std::string("http://") + site + "/tfr_S.asp " + name);
  ASSERT_EQ(offers.size(), expected.size() + 4);
  EXPECT_EQ(std::vector<std::string>(offers.begin(), offers.begin() + 8), expected);
}

// A packed copy as the agent writes it: the root holds nothing but the base64 payload.
constexpr char kPackedCopy[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<root a=\"1\"><![CDATA[s7GvyM1R\r\n"
    "VNAHMm30QWqBDAA=\r\n]]></root>\r\n";

TEST(DeleteMatchingFiles, DescendsOnlyIntoMatchingFolders) {
  TempDir dir;
  const std::string top = dir.path().string();
  WriteFileBytes(Join(top, "a.zip"), kPackedCopy);
  WriteFileBytes(Join(top, "a.xml"), "2");
  WriteFileBytes(Join(Join(top, "old.zip"), "b.zip"), kPackedCopy);
  WriteFileBytes(Join(Join(top, "old.zip"), "b.txt"), "4");
  WriteFileBytes(Join(Join(Join(top, "old.zip"), "deeper.zip"), "c.zip"), kPackedCopy);
  WriteFileBytes(Join(Join(top, "plain"), "d.zip"), "6");
  DeleteMatchingFiles(top, std::string(1, platform::kPathSeparator) + "*.zip");
  EXPECT_FALSE(FileExists(Join(top, "a.zip")));
  EXPECT_TRUE(FileExists(Join(top, "a.xml")));
  EXPECT_FALSE(FileExists(Join(Join(top, "old.zip"), "b.zip")));
  EXPECT_TRUE(FileExists(Join(Join(top, "old.zip"), "b.txt")));
  EXPECT_FALSE(FileExists(Join(Join(Join(top, "old.zip"), "deeper.zip"), "c.zip")));
  EXPECT_TRUE(FileExists(Join(Join(top, "plain"), "d.zip")));
  EXPECT_TRUE(std::filesystem::is_directory(Join(top, "old.zip")));
}

TEST(DeleteMatchingFiles, SparesResultFilesWhoseShortNameMatches) {
  // On Windows "*.zip" also finds "LOG_Y_1.zip1" through its 8.3 short name.
  TempDir dir;
  const std::string top = dir.path().string();
  for (const char* name : {"LOG_Y_1.zip1", "LOG_Y_2.ZIP1", "a.zipx", "b.zip.xml"}) {
    WriteFileBytes(Join(top, name), name);
  }
  WriteFileBytes(Join(top, "c.ZIP"), kPackedCopy);
  DeleteMatchingFiles(top, std::string(1, platform::kPathSeparator) + "*.zip");
  for (const char* name : {"LOG_Y_1.zip1", "LOG_Y_2.ZIP1", "a.zipx", "b.zip.xml"}) {
    EXPECT_EQ(ReadFileBytes(Join(top, name)), name);
  }
  EXPECT_FALSE(FileExists(Join(top, "c.ZIP")));
}

// Only what the agent could have packed goes: a writer's own ".zip" stays.
TEST(DeleteMatchingFiles, LeavesEveryZipThatIsNoPackedCopy) {
  TempDir dir;
  const std::string top = dir.path().string();
  const std::string kept[] = {std::string("PK\x03\x04\x14\0", 6) + "archive", "text",
                              "<d><![CDATA[not base64 <>]]></d>", "<d><![CDATA[QUJD]]><e/></d>",
                              std::string(kPackedCopy) + "<more/>"};
  auto path = [&](const std::string& bytes) { return Join(top, std::to_string(bytes.size()) + ".zip"); };
  for (const std::string& bytes : kept) WriteFileBytes(path(bytes), bytes);
  DeleteMatchingFiles(top, std::string(1, platform::kPathSeparator) + "*.zip");
  for (const std::string& bytes : kept) EXPECT_EQ(ReadFileBytes(path(bytes)), bytes);
}

// A copy its run could not finish (cut inside its payload or its closing tag) goes too,
// so that its source can be packed again.
TEST(DeleteMatchingFiles, RemovesPackedCopiesCutShort) {
  TempDir dir;
  const std::string top = dir.path().string(), whole = kPackedCopy;
  const std::size_t cuts[] = {whole.find("VNAH"), whole.find("]]>") + 1, whole.find("</root") + 3};
  for (std::size_t cut : cuts) WriteFileBytes(Join(top, std::to_string(cut) + ".zip"), whole.substr(0, cut));
  DeleteMatchingFiles(top, std::string(1, platform::kPathSeparator) + "*.zip");
  for (std::size_t cut : cuts) EXPECT_FALSE(FileExists(Join(top, std::to_string(cut) + ".zip"))) << cut;
}

// An empty primary site is named only when no routing entry posts to a URL of its own.
TEST(ReportUnworkableSetup, AnEmptyPrimarySiteMattersOnlyWithoutRoutedUrls) {
  TempDir dir;
  RunContext ctx;
  ctx.run_log_path = Join(dir.path().string(), "run.log");
  ctx.category_folder = dir.path().string();
  RoutingTable routing;
  RoutingEntry routed = EmptyRoutingEntry();
  std::snprintf(routed.name, sizeof routed.name, "R");
  std::snprintf(routed.url1, sizeof routed.url1, "http://127.0.0.1/r");
  ReportUnworkableSetup(ctx, routing);
  routing.InsertRoutingEntry(routed);
  ReportUnworkableSetup(ctx, routing);
  const std::string log = ReadFileBytes(ctx.run_log_path.str());
  EXPECT_EQ(log.find("is empty"), log.rfind("is empty")) << log;
  EXPECT_NE(log.find("is empty"), std::string::npos) << log;
}

}  // namespace
}  // namespace vemtu::test
