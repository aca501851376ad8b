// Proxy lists, bypass lists, challenge parsing and UTF-16 conversion, as tables.
#include <gtest/gtest.h>

#include "proxy_list.h"
#include "response_head.h"
#include "wide_text.h"
#include "winhttp.h"

namespace vemtu::inet {
namespace {

TEST(ProxyList, PicksTheEntryForTheTargetsScheme) {
  struct Case {
    const char* list;
    bool secure;
    const char* proxy;
  } cases[] = {
      {"http=http://10.0.0.1:8080", false, "http://10.0.0.1:8080"},
      {"http=http://10.0.0.1:8080", true, ""},  // a scheme entry serves that scheme only
      // The one proxy named for both schemes, as the configured-proxy methods give it.
      {"http=http://10.0.0.1:8080 https=http://10.0.0.1:8080", false, "http://10.0.0.1:8080"},
      {"http=http://10.0.0.1:8080 https=http://10.0.0.1:8080", true, "http://10.0.0.1:8080"},
      {"10.0.0.1:3128", true, "http://10.0.0.1:3128"},
      {"proxy.local", false, "http://proxy.local:80"},
      {"http=a:1;https=b:2", true, "http://b:2"},
      {"http=a:1 https=b:2", false, "http://a:1"},
      {"  general:9  https=b:2 ", false, "http://general:9"},
      {"HTTP=http://a:1/", false, "http://a:1"},
      {"http=:8080", false, ""},
      {"http=host:", false, ""},
      {"", false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProxyFor(c.list, c.secure), c.proxy) << c.list << (c.secure ? " (secure)" : "");
  }
}

TEST(ProxyList, BypassMatchesLocalNamesAndPatterns) {
  struct Case {
    const char* bypass;
    const char* host;
    bool bypassed;
  } cases[] = {
      {"<local>", "intranet", true},      {"<local>", "127.0.0.1", false},
      {"<local>", "data.example", false}, {"*.example", "Data.Example", true},
      {"*.example", "example", false},    {"10.*;<local>", "10.1.2.3", true},
      {"", "anything", false},            {"a b c", "b", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Bypassed(c.bypass, c.host), c.bypassed) << c.bypass << " / " << c.host;
  }
}

TEST(ResponseHead, ReadsStatusHeadersAndChallenges) {
  std::string head =
      "HTTP/1.1 407 Proxy Authentication Required\r\n"
      "Proxy-Authenticate: NTLM\r\n"
      "proxy-authenticate: Basic realm=\"x\"\r\n"
      "Content-Length: 12\r\n\r\n";
  EXPECT_EQ(StatusText(head), "Proxy Authentication Required");
  bool found = false;
  EXPECT_EQ(HeaderValue(head, "content-length", &found), "12");
  EXPECT_TRUE(found);
  HeaderValue(head, "WWW-Authenticate", &found);
  EXPECT_FALSE(found);
  std::uint32_t first = 0;
  EXPECT_EQ(OfferedSchemes(head, "Proxy-Authenticate", &first),
            std::uint32_t{WINHTTP_AUTH_SCHEME_NTLM | WINHTTP_AUTH_SCHEME_BASIC});
  EXPECT_EQ(first, std::uint32_t{WINHTTP_AUTH_SCHEME_NTLM});
  EXPECT_EQ(OfferedSchemes(head, "WWW-Authenticate", &first), 0u);
}

TEST(WideText, RoundTripsAndReplacesBrokenUnits) {
  const std::u16string samples[] = {u"", u"plain", u"Gr\u00fc\u00dfe", u"\u65e5\u672c",
                                    u"\U0001F600 x"};
  for (const std::u16string& text : samples) {
    EXPECT_EQ(ToUtf16(ToUtf8(text.c_str())), text);
  }
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(ToUtf8(lone), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(ToUtf16("a\xC3"), u"a\uFFFD");  // cut sequence
  EXPECT_EQ(ToUtf8(nullptr), "");
}

}  // namespace
}  // namespace vemtu::inet
