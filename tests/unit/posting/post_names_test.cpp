#include "posting/post_names.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "posting_fixture.h"

namespace vemtu::test {
namespace {

TEST(SplitUrl, AllTheForms) {
  struct Case {
    const char* url;
    const char* scheme;
    const char* host;
    int port;
    const char* base_path;
  } cases[] = {
      {"http://h", "HTTP", "h", 80, ""},
      {"HTTPS://h:8443/a/b", "HTTPS", "h", 8443, "a/b"},
      {"https://h/post", "HTTPS", "h", 443, "post"},
      {"http://h/dc/", "HTTP", "h", 80, "dc/"},
      {"http://h/", "HTTP", "h", 80, ""},
      {"ftp://h", "FTP", "h", 0, ""},
      {"hTtP://h:", "HTTP", "h", 0, ""},
      {"http://h:12ab/x", "HTTP", "h", 12, "x"},
      // The first ":" after "://" ends the host wherever it stands.
      {"http://h/a:b", "HTTP", "h/a", 0, "a:b"},
      {"http://", "HTTP", "", 80, ""},
  };
  for (const Case& c : cases) {
    UrlParts parts;
    ASSERT_TRUE(SplitUrl(c.url, parts)) << c.url;
    EXPECT_EQ(parts.scheme.view(), c.scheme) << c.url;
    EXPECT_EQ(parts.host.view(), c.host) << c.url;
    EXPECT_EQ(parts.port, c.port) << c.url;
    EXPECT_EQ(parts.base_path.view(), c.base_path) << c.url;
  }
  UrlParts parts;
  EXPECT_FALSE(SplitUrl("h/post", parts));
  EXPECT_FALSE(SplitUrl("", parts));
  EXPECT_FALSE(SplitUrl("averyverylongscheme://h", parts));  // would be cut to another scheme
  EXPECT_TRUE(SplitUrl("tenletters://h", parts));
}

TEST(RequestPath, JoinsBasePathPageAndIdentityUnencoded) {
  RunContext ctx;
  ctx.member_id = "M 1";
  ctx.site_id = "S&1";
  ctx.registration_id = "R%1";
  ctx.agent_type = "T";
  std::string path;
  ASSERT_TRUE(BuildRequestPath(ctx, "", "P", path));
  EXPECT_EQ(path, "tfr_P.asp?mmid=M 1&sid=S&1&rid=R%1&rty=T");
  ASSERT_TRUE(BuildRequestPath(ctx, "dc/", "ABC", path));
  EXPECT_EQ(path, "dc//tfr_ABC.asp?mmid=M 1&sid=S&1&rid=R%1&rty=T");
  ASSERT_TRUE(BuildRequestPath(ctx, "a/b", "", path));
  EXPECT_EQ(path, "a/b/tfr_.asp?mmid=M 1&sid=S&1&rid=R%1&rty=T");
  // A prefix from a file name can neither start a query or a fragment nor escape a byte.
  ASSERT_TRUE(BuildRequestPath(ctx, "", "Q.asp?x=1#%41", path));
  EXPECT_EQ(path, "tfr_Q.asp%3Fx=1%23%2541.asp?mmid=M 1&sid=S&1&rid=R%1&rty=T");
  // Nor reach the request line as bytes a library could convert or read as a separator.
  ASSERT_TRUE(BuildRequestPath(ctx, "", "\x83\x5F\\\xE3\x82\xBD", path));
  EXPECT_EQ(path, "tfr_%83_%5C%E3%82%BD.asp?mmid=M 1&sid=S&1&rid=R%1&rty=T");
  // One that does not fit is refused rather than cut (a cut query names another machine);
  // the limit counts the path before its escaping.
  EXPECT_FALSE(BuildRequestPath(ctx, std::string(330, 'p'), "P", path));
  const std::string fill(359 - 43, 'p');  // 359 characters with the rest
  ASSERT_TRUE(BuildRequestPath(ctx, fill, "%%%", path));
  EXPECT_EQ(path.size(), 359u + 6);
}

TEST(PostNames, PrefixPackedPathLogAndDisplay) {
  EXPECT_EQ(NamePrefix("ABC_Y_0001.xml"), "ABC");
  EXPECT_EQ(NamePrefix("_x.xml"), "");
  EXPECT_EQ(NamePrefix("report.xml"), "report.xml");

  const std::string dir = Join("base", "dir.d");
  EXPECT_EQ(PackedPath(Join(dir, "ABC_Y_1.xml1")), Join(dir, "ABC_Y_1.zip"));
  EXPECT_EQ(PackedPath(Join(dir, "ABC.v2_Y_1.xml")), Join(dir, "ABC.v2_Y_1.zip"));
  // Never outside the file's own name, never the source itself.
  EXPECT_EQ(PackedPath(Join(dir, "ABC_Y_1")), Join(dir, "ABC_Y_1.zip"));
  EXPECT_EQ(PackedPath(Join(dir, "ABC_Y_1.ZIP")), Join(dir, "ABC_Y_1.ZIP.zip"));
  EXPECT_EQ(PackedPath(std::string(356, 'x') + "_Y.xml"), "");

  RunContext ctx;
  ctx.exe_dir = "E";
  EXPECT_EQ(TransferLogPath(ctx, ""),
            platform::NativePath("E\\ApplicationLog\\WebPost\\WebPostExe\\tfr_.log"));
  EXPECT_EQ(TransferLogPath(ctx, std::string(400, 'p')), "");
  EXPECT_EQ(DisplayUrl("http://h/dc", "P"), "http://h/dc/tfr_P.asp");
  EXPECT_EQ(DisplayUrl(std::string(400, 'u'), "P").size(), 359u);
}

TEST(PostNames, StatusEnvelopeAndStatusCategory) {
  EXPECT_EQ(EnvelopeHead("PSTAT", "R1") + "x" + EnvelopeTail("PSTAT"),
            "<PSTAT><regid>R1</regid><data><![CDATA[x]]></data></PSTAT>");
  EXPECT_TRUE(IsStatusCategory("Status"));
  EXPECT_TRUE(IsStatusCategory("status"));
  EXPECT_FALSE(IsStatusCategory("AlertTkt"));
}

}  // namespace
}  // namespace vemtu::test
