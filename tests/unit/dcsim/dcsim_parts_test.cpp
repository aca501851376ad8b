#include <gtest/gtest.h>

#include <cstring>

#include "packed_document.h"
#include "packed_sample.h"
#include "reply_rules.h"

namespace dcsim {
namespace {

TEST(DcsimTarget, AcceptsTheFourKeysInOrderAndNamesThePrefix) {
  struct Case {
    const char* target;
    int status;
    const char* prefix;
  } cases[] = {
      {"/tfr_ABC.asp?mmid=M&sid=S&rid=R&rty=T", 200, "ABC"},
      {"/dc//tfr_ABC.asp?mmid=&sid=&rid=&rty=", 200, "ABC"},
      {"/tfr_.asp?mmid=1&sid=2&rid=3&rty=4", 200, ""},
      {"/tfr_A B%.asp?mmid=1&sid=2&rid=3&rty=4", 200, "A B%"},
      {"/tfr_A%20B%&%C3%a9.asp?mmid=1&sid=2&rid=3&rty=4", 200, "A B%&\xC3\xA9"},
      {"/tfr_ABC.asp?sid=S&mmid=M&rid=R&rty=T", 400, "ABC"},
      {"/tfr_ABC.asp?mmid=M&sid=S&rid=R", 400, "ABC"},
      {"/tfr_ABC.asp?mmid=M&sid=S&rid=R&rty=T&x=1", 400, "ABC"},
      {"/tfr_ABC.asp", 400, "ABC"},
      {"/abc.asp?mmid=M&sid=S&rid=R&rty=T", 404, ""},
      {"tfr_ABC.asp?mmid=M&sid=S&rid=R&rty=T", 404, ""},
      {"/tfr_ABC.aspx?mmid=M&sid=S&rid=R&rty=T", 404, ""},
  };
  for (const Case& c : cases) {
    TargetCheck check = CheckTarget(c.target, "");
    EXPECT_EQ(check.status, c.status) << c.target;
    if (check.status != 404) {
      EXPECT_EQ(check.prefix, c.prefix) << c.target;
    }
  }
  EXPECT_EQ(CheckTarget("/tfr_A.asp?mmid=M&sid=S&rid=R&rty=T", "mmid=M&sid=S&rid=R&rty=T").status,
            200);
  EXPECT_EQ(CheckTarget("/tfr_A.asp?mmid=M&sid=S&rid=R&rty=X", "mmid=M&sid=S&rid=R&rty=T").status,
            400);
}

TEST(DcsimTarget, AbsoluteFormBecomesOriginForm) {
  EXPECT_EQ(OriginForm("http://h:8080/a/tfr_P.asp?q=1"), "/a/tfr_P.asp?q=1");
  EXPECT_EQ(OriginForm("http://h?q=1"), "/?q=1");
  EXPECT_EQ(OriginForm("http://h"), "/");
  EXPECT_EQ(OriginForm("/x?y"), "/x?y");
}

TEST(DcsimUnpack, RestoresTheInnerTextOfAPackedDocument) {
  std::string inner =
      "\r\n<PSTAT>\r\n    <regid>R1</regid>\r\n    <data><![CDATA[x]]></data>\r\n</PSTAT>\r\n";
  for (int repeat : {1, 40}) {
    std::string text;
    for (int i = 0; i < repeat; ++i) text += inner;
    std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<PSTAT><![CDATA[" +
                       Base64Lines(DeflateRaw(text)) + "]]></PSTAT>\r\n";
    std::string unpacked;
    ASSERT_TRUE(UnpackDocument(body, unpacked)) << repeat;
    EXPECT_EQ(unpacked, text);
  }
}

TEST(DcsimUnpack, PlainAndDamagedBodiesAreNotPacked) {
  std::string unpacked;
  std::string good = Base64Lines(DeflateRaw("<a>hello</a>"));
  const std::string bodies[] = {
      "",
      "1",
      "<a>plain</a>",
      "<a><![CDATA[not base64 at all!]]></a>",
      "<a><![CDATA[" + good.substr(0, good.size() / 2) + "]]></a>",  // stream cut short
      "<a><![CDATA[" + good,                                         // no end of section
      "<a><![CDATA[eJzLSM3JyVcozy/KSQEAGgQEXQ==]]></a>",             // zlib-wrapped
  };
  for (const auto& body : bodies) EXPECT_FALSE(UnpackDocument(body, unpacked)) << body;
}

TEST(DcsimRules, ParseSelectorsAndSettings) {
  Rule rule;
  bool is_rule = false;
  std::string error;
  ASSERT_TRUE(ParseRule("prefix=ABC status=500 page=<b>down</b>\\s! delay=20 times=2", rule,
                        is_rule, error));
  EXPECT_TRUE(is_rule);
  EXPECT_EQ(rule.selector, Rule::Selector::kPrefix);
  EXPECT_EQ(rule.prefix, "ABC");
  EXPECT_EQ(rule.reply.status, 500);
  EXPECT_EQ(rule.reply.body, "<b>down</b> !");
  EXPECT_EQ(rule.reply.delay_ms, 20u);
  EXPECT_EQ(rule.times, 2);
  ASSERT_TRUE(ParseRule("request=3 drop", rule, is_rule, error));
  EXPECT_TRUE(rule.reply.drop);
  EXPECT_EQ(rule.number, 3u);
  ASSERT_TRUE(ParseRule("default reply=1\\r\\n", rule, is_rule, error));
  EXPECT_EQ(rule.reply.body, "1\r\n");
  ASSERT_TRUE(ParseRule("  # a comment", rule, is_rule, error));
  EXPECT_FALSE(is_rule);
  for (const char* bad : {"request=0 reply=1", "request=x", "prefix=A status=abc",
                          "prefix=A colour=red", "sometimes reply=1", "prefix=A delay=-1"}) {
    EXPECT_FALSE(ParseRule(bad, rule, is_rule, error)) << bad;
  }
}

TEST(DcsimRules, RequestRuleWinsOverPrefixWhichWinsOverDefault) {
  ReplyScript script;
  std::string error;
  ASSERT_TRUE(
      script.Load("default reply=D\nprefix=abc reply=P times=1\nrequest=2 reply=N\n", error));
  EXPECT_EQ(script.Choose(1, "ABC").body, "P");  // prefix compared without case
  EXPECT_EQ(script.Choose(2, "ABC").body, "N");
  EXPECT_EQ(script.Choose(3, "ABC").body, "D");  // the prefix rule was used up
  EXPECT_EQ(script.Choose(4, "XYZ").body, "D");
  ASSERT_TRUE(script.AddFixed("prefix=XYZ reply=F", error));
  EXPECT_EQ(script.Choose(5, "XYZ").body, "F");
  EXPECT_FALSE(script.Load("prefix=Q bogus", error));
  EXPECT_EQ(script.Choose(6, "Q").body, "D");  // a bad script leaves the rules unchanged

  ReplyScript empty;
  Reply reply = empty.Choose(1, "ANY");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "1");
}

TEST(DcsimRules, EscapeAndUnescapeRoundTrip) {
  std::string raw = std::string("a\tb\r\n\\ \x01\x7f", 9);
  EXPECT_EQ(Escape(raw), "a\\tb\\r\\n\\\\ \\x01\\x7F");
  EXPECT_EQ(Unescape(Escape(raw)), raw);
}

}  // namespace
}  // namespace dcsim
