// The transport's small pieces: reply accumulation, scheme choice, retry names, request
// path encoding, the reply judgement.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "transport/reply_buffer.h"
#include "transport/request_text.h"
#include "transport/retry_name.h"

namespace vemtu {
namespace {

TEST(ReplyBuffer, FirstBlockIsCountPlus513AndZeroTerminated) {
  ReplyBuffer buffer;
  buffer.AppendReplyBytes("abc", 3);
  EXPECT_EQ(buffer.capacity(), 3u + 513u);
  EXPECT_EQ(buffer.size(), 3u);
  EXPECT_STREQ(buffer.data(), "abc");
}

TEST(ReplyBuffer, NoBytesDoNothing) {
  ReplyBuffer buffer;
  buffer.AppendReplyBytes(nullptr, 10);
  buffer.AppendReplyBytes("x", 0);
  EXPECT_EQ(buffer.data(), nullptr);
  EXPECT_EQ(buffer.size(), 0u);
}

TEST(ReplyBuffer, AppendsInPlaceUntilFullThenGrowsKeepingContentAndZero) {
  ReplyBuffer buffer;
  std::string expected;
  buffer.AppendReplyBytes("a", 1);
  expected += "a";
  // 514 bytes: 1 + 511 + 1 < 514 - 1 fits in place; the next byte does not.
  std::string fill(511, 'b');
  buffer.AppendReplyBytes(fill.data(), fill.size());
  expected += fill;
  EXPECT_EQ(buffer.capacity(), 514u);
  buffer.AppendReplyBytes("c", 1);
  expected += "c";
  EXPECT_GE(buffer.capacity(), expected.size() + 514);
  // Many reads of a long reply: content exact, always a zero after it.
  std::string chunk(4096, 'd');
  for (int i = 0; i < 300; ++i) {
    buffer.AppendReplyBytes(chunk.data(), chunk.size());
    expected += chunk;
  }
  ASSERT_EQ(buffer.size(), expected.size());
  EXPECT_EQ(std::memcmp(buffer.data(), expected.data(), expected.size()), 0);
  EXPECT_EQ(buffer.data()[buffer.size()], '\0');
  EXPECT_LT(buffer.capacity(), 4 * expected.size());
}

TEST(ReplyBuffer, BytesPastTheLimitAreDropped) {
  ReplyBuffer buffer;
  std::string big(ReplyBuffer::kLimit - 1, 'x');
  buffer.AppendReplyBytes(big.data(), big.size());
  buffer.AppendReplyBytes("yz", 2);  // would pass the limit: dropped
  buffer.AppendReplyBytes("y", 1);   // fits exactly
  EXPECT_EQ(buffer.size(), ReplyBuffer::kLimit);
  EXPECT_EQ(buffer.data()[buffer.size() - 1], 'y');
  EXPECT_EQ(buffer.data()[buffer.size()], '\0');
}

TEST(PickAuthScheme, FirstPresentInFixedOrder) {
  struct Case {
    std::uint32_t supported, picked;
  } cases[] = {
      {0, 0},
      {0x20, 0},  // an unknown bit only
      {kAuthBasic, kAuthBasic},
      {kAuthBasic | kAuthDigest, kAuthDigest},
      {kAuthBasic | kAuthDigest | kAuthPassport, kAuthPassport},
      {kAuthBasic | kAuthNtlm | kAuthDigest, kAuthNtlm},
      {kAuthBasic | kAuthNtlm | kAuthNegotiate | kAuthDigest | kAuthPassport, kAuthNegotiate},
  };
  for (const Case& c : cases) EXPECT_EQ(PickAuthScheme(c.supported), c.picked) << c.supported;
}

TEST(RetryTarget, FollowsTheRetryChainAndEndsInTheErrorFolder) {
  struct Case {
    const char* path;
    const char* target;
  } cases[] = {
      {"C:\\A\\K\\X_1.xml", "C:\\A\\K\\X_1.xml1"},
      {"C:\\A\\K\\X_1.xml1", "C:\\A\\K\\X_1.xml2"},
      {"C:\\A\\K\\X_1.xml4", "C:\\A\\K\\X_1.xml5"},
      {"C:\\A\\K\\X_1.xml5", "C:\\A\\K\\Error\\X_1.xml"},
      {"C:\\A\\K\\X_1.txt9", "C:\\A\\K\\X_1.txt10"},
      {"C:\\A\\K\\X_1.xmlq", "C:\\A\\K\\X_1.xml1"},  // no digits count as 0
      // Leading digits only: a sign or a blank is no digit, so the count starts at 0.
      {"C:\\A\\K\\R.xml-2", "C:\\A\\K\\R.xml-1"},
      {"C:\\A\\K\\R.xml+4", "C:\\A\\K\\R.xml+1"},
      {"C:\\A\\K\\R.xml 3", "C:\\A\\K\\R.xml 1"},
      {"C:\\A\\K\\R.xml12x", "C:\\A\\K\\R.xml1213"},
      {"C:\\A\\K\\X_1.zip", "C:\\A\\K\\X_1.zip1"},
      // Names the chain has no place for stay where they are.
      {"C:\\A\\K\\X_1", ""},
      {"C:\\A\\K\\X_1.db", ""},
      {"C:\\A\\K.dir\\X_1", ""},  // the only "." is in a folder name
      {"X_1.xml5", ""},          // no folder part to move
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RetryTarget(c.path, "C:\\A\\K\\Error", '\\', 359), c.target) << c.path;
  }
  // The last character is cut whole, never its last byte alone.
  if (platform::SystemCodePage() == platform::kCodePageUtf8) {
    EXPECT_EQ(RetryTarget("K\\X_1.txt\xE3\x82\xBD", "K\\Error", '\\', 359), "K\\X_1.txt1");
  }
}

TEST(RetryTarget, NeverPassesThePathCapacity) {
  std::string path = "/a/" + std::string(352, 'n') + ".xml";  // 359 characters
  ASSERT_EQ(path.size(), 359u);
  EXPECT_EQ(RetryTarget(path, "/a/Error", '/', 359), "");
  path.erase(3, 1);  // 358 characters: the target just fits
  EXPECT_EQ(RetryTarget(path, "/a/Error", '/', 359), path + "1");
}

std::string Encoded(std::string_view path, std::size_t max_chars) {
  std::string out = "garbage";
  bool fits = EncodeRequestPath(path, max_chars, out);
  EXPECT_EQ(fits, !out.empty() || path.empty()) << path;
  return fits ? out : "<refused>";
}

TEST(EncodeRequestPath, EscapesExactlyLineBreaksSpacesAndControlBytes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"/tfr_A.asp?mmid=1&sid=2", "/tfr_A.asp?mmid=1&sid=2"},
      {"/a b", "/a%20b"},
      {"/a\r\nHost: x", "/a%0D%0AHost:%20x"},
      {std::string("/\x01\x1f\x7f", 4), "/%01%1F%7F"},
      {"/%41~\x80\xff", "/%41~\x80\xff"},  // '%' and high bytes pass unchanged
  };
  for (const Case& c : cases) EXPECT_EQ(Encoded(c.in, 619), c.out) << c.in;
  std::u16string wide;
  EXPECT_TRUE(EncodeRequestPath(std::u16string(u"/a b\u00e9"), 359, wide));
  EXPECT_EQ(wide, u"/a%20b\u00e9");
}

TEST(EncodeRequestPath, APathThatDoesNotFitWholeIsRefusedNotCut) {
  EXPECT_EQ(Encoded("abc", 3), "abc");
  EXPECT_EQ(Encoded("abcd", 3), "<refused>");
  EXPECT_EQ(Encoded("ab d", 6), "ab%20d");
  EXPECT_EQ(Encoded("ab d", 5), "<refused>");
  // A query whose last value would be lost: 359 characters before, 361 after encoding.
  std::string path = "tfr_A.asp?mmid=1&sid=" + std::string(331, 'x') + " &rty=T";
  ASSERT_EQ(path.size(), 359u);
  EXPECT_EQ(Encoded(path, 359), "<refused>");
  std::u16string wide = u"kept";
  EXPECT_FALSE(EncodeRequestPath(std::u16string(358, u'a') + u" ", 359, wide));
  EXPECT_TRUE(wide.empty());
}

TEST(ReplyJudgement, OnlyTheWholeTextOneIsAcceptedAndTheTextEndsAtAZeroByte) {
  EXPECT_TRUE(IsAcceptedReply("1"));
  for (const char* reply : {"", "0", "1\r\n", "1\n", " 1", "11", "true"}) {
    EXPECT_FALSE(IsAcceptedReply(reply)) << reply;
  }
  using std::string_literals::operator""s;
  EXPECT_TRUE(IsAcceptedReply("1\0"s));
  EXPECT_TRUE(IsAcceptedReply("1\0garbage"s));
  EXPECT_FALSE(IsAcceptedReply("\0" "1"s));
  EXPECT_FALSE(IsAcceptedReply("1\r\n\0"s));
  EXPECT_TRUE(IsRefusedReply("0"));
  EXPECT_TRUE(IsRefusedReply("0\0"s));
  EXPECT_FALSE(IsRefusedReply("0\r\n"));
  EXPECT_EQ(ReplyText("ab\0cd"s), "ab");
  EXPECT_EQ(ReplyText("\0"s), "");
}

TEST(LoggableReply, NeitherEndsTheLineNorAddsFieldsAndIsUnambiguous) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"1", "1"},
      {"0\r\nT\t9999\tMSG: Successfully WebPosted File\t\r\n",
       "0\\r\\nT\\t9999\\tMSG: Successfully WebPosted File\\t\\r\\n"},
      {"a\\r", "a\\\\r"},  // a backslash followed by "r" is not a CR
      {"\x1b[2J\x7f\x80", "\\x1B[2J\\x7F\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(LoggableReply(c.in), c.out) << c.in;
}

TEST(LoggableReply, ShowsAtMostAFewKilobytesAndMarksTheCut) {
  std::string whole(kLoggedReplyChars, 'x');
  EXPECT_EQ(LoggableReply(whole), whole);
  std::string longer = whole + "\r\nforged";
  EXPECT_EQ(LoggableReply(longer), whole + "\\[cut: " + std::to_string(longer.size()) + " bytes]");
  std::string huge(16u * 1024 * 1024, '\n');
  EXPECT_LT(LoggableReply(huge).size(), 2 * kLoggedReplyChars + 40);
}

}  // namespace
}  // namespace vemtu

#include "platform/codepage.h"
#include "transport/wide_text.h"

namespace vemtu {
namespace {

TEST(EscapeUnconvertibleBytes, OnlyAPathTheCodePageCannotCarryIsEscaped) {
  EXPECT_EQ(EscapeUnconvertibleBytes("tfr_A.asp?mmid=1"), "tfr_A.asp?mmid=1");
  if (platform::SystemCodePage() != platform::kCodePageUtf8) {
    GTEST_SKIP() << "the cases below need UTF-8 as the system code page; this one is "
                 << platform::SystemCodePage();
  }
  EXPECT_EQ(EscapeUnconvertibleBytes("tfr_\xC3\xA9.asp?x=%41"), "tfr_\xC3\xA9.asp?x=%41");
  // Bytes that are no UTF-8 would come out as "?", which starts a query.
  EXPECT_EQ(EscapeUnconvertibleBytes("tfr_Z\xFF\xFE\xC3\xA9.asp?x=1"),
            "tfr_Z%FF%FE%C3%A9.asp?x=1");
}

TEST(ToWide, AsciiTextsBecomeTheSameCharacters) {
  EXPECT_EQ(ToWide(""), u"");
  EXPECT_EQ(ToWide("http=http://10.0.0.1:8080"), u"http=http://10.0.0.1:8080");
  EXPECT_EQ(ToWide("/tfr_X.asp?mmid=1&sid=2"), u"/tfr_X.asp?mmid=1&sid=2");
}

}  // namespace
}  // namespace vemtu
