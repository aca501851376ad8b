#include "posting/dispatch_post.h"

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "posting_fixture.h"

namespace vemtu::test {
namespace {

class DispatchPostTest : public ::testing::Test, public PostingFixture {
 protected:
  DispatchPostTest() : session(ctx, nullptr, FakeMethods()) {
    ctx.transfer_log_path = TransferLog("P");
  }
  // Posts a fresh file and returns whether a method succeeded.
  bool PostOne(const std::string& name = "P_1.xml", bool pack = false) {
    std::string path = Category(name);
    WriteFileBytes(path, "body");
    SendTarget target{"h", "tfr_P.asp?mmid=M1", "HTTP", path.c_str(), 80};
    return DispatchPost(session, target, path, pack);
  }
  PostingSession session;
};

TEST_F(DispatchPostTest, WithoutWinHttpOnlyTheWinInetMethodsAreTried) {
  ctx.winhttp_available = false;
  EXPECT_FALSE(PostOne());
  EXPECT_EQ(SentNumbers(), (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(session.last_post_method, 0);
  std::string failure = LogLine("ERR: Unable to WebPost File", Category("P_1.xml"));
  EXPECT_EQ(WithoutTimestamps(ReadFileBytes(TransferLog("P"))), failure + failure + failure);
}

TEST_F(DispatchPostTest, AFileThatFailsEverywhereLeavesSevenFailureEntries) {
  ctx.winhttp_available = true;
  EXPECT_FALSE(PostOne());
  EXPECT_EQ(SentNumbers(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
  std::string log = ReadFileBytes(TransferLog("P"));
  std::size_t count = 0;
  for (std::size_t at = log.find("ERR: Unable to WebPost File"); at != std::string::npos;
       at = log.find("ERR: Unable to WebPost File", at + 1))
    ++count;
  EXPECT_EQ(count, 7u);
}

TEST_F(DispatchPostTest, TheRememberedMethodIsTriedFirstAndTheCascadeGoesOnAfterIt) {
  ctx.winhttp_available = true;
  results = {{6, 1}};
  EXPECT_TRUE(PostOne("P_1.xml"));  // 1..5 fail, 6 succeeds
  EXPECT_EQ(session.last_post_method, 6);
  sends.clear();
  results = {{7, 1}};
  EXPECT_TRUE(PostOne("P_2.xml"));  // 6 fails, 7 follows; 1..5 are not tried
  EXPECT_EQ(SentNumbers(), (std::vector<int>{6, 7}));
  EXPECT_EQ(session.last_post_method, 7);
  sends.clear();
  results = {};
  EXPECT_FALSE(PostOne("P_3.xml"));  // 7 fails: nothing after it
  EXPECT_EQ(SentNumbers(), (std::vector<int>{7}));
  EXPECT_EQ(session.last_post_method, 0);
  sends.clear();
  results = {{1, 1}};
  EXPECT_TRUE(PostOne("P_4.xml"));  // back to method 1
  EXPECT_EQ(SentNumbers(), (std::vector<int>{1}));
}

TEST_F(DispatchPostTest, SuccessResetsTheWatchdogCounterAndLogsOnce) {
  ctx.winhttp_available = true;
  platform::WriteProfileText(ctx.category_ini_path.str(), "WebPostCycles", "AlertTktCycle", "7");
  results = {{1, 1}};
  EXPECT_TRUE(PostOne());
  EXPECT_EQ(SentNumbers(), (std::vector<int>{1}));
  EXPECT_EQ(platform::GetProfileText(ctx.category_ini_path.str(), "WebPostCycles", "AlertTktCycle",
                                     "", 99),
            "0");
  EXPECT_EQ(WithoutTimestamps(ReadFileBytes(TransferLog("P"))),
            LogLine("MSG: Successfully WebPosted File", Category("P_1.xml")));
}

TEST_F(DispatchPostTest, PackModeDeletesTheSourceOnlyAfterASuccess) {
  ctx.winhttp_available = false;
  std::string source = Category("P_Y_1.xml");
  std::string packed = Category("P_Y_1.zip");
  WriteFileBytes(source, "<a/>");
  WriteFileBytes(packed, "<a>packed</a>");
  SendTarget target{"h", "tfr_P.asp", "HTTP", packed.c_str(), 80};
  EXPECT_FALSE(DispatchPost(session, target, source, true));
  EXPECT_TRUE(FileExists(source));
  results = {{5, 1}};
  EXPECT_TRUE(DispatchPost(session, target, source, true));
  EXPECT_FALSE(FileExists(source));
  EXPECT_FALSE(FileExists(packed));  // the method deleted what it posted
}

TEST_F(DispatchPostTest, AThrowingMethodCountsAsAFailure) {
  ctx.winhttp_available = false;
  session.methods[4].function = [](PostingSession&, const SendTarget&) -> int {
    throw std::runtime_error("boom");
  };
  results = {{6, 1}};
  EXPECT_TRUE(PostOne());
  EXPECT_EQ(session.last_post_method, 6);
}

}  // namespace
}  // namespace vemtu::test
