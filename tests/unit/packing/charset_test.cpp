// Charset names and conversion between code pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "packing/charset_names.h"
#include "packing/encoding_convert.h"
#include "platform/codepage.h"

namespace vemtu::packing {
namespace {

std::string Converted(unsigned from, unsigned to, std::string_view in) {
  std::string out;
  EXPECT_TRUE(Convert(from, to, in, out)) << from << " -> " << to;
  return out;
}

TEST(CharsetNames, NormalisedBeforeLookup) {
  struct Case {
    const char* name;
    unsigned code_page;
  } cases[] = {
      {"UTF_8", 65001},          {"  utf-8\t\r\n", 65001}, {"Utf-8", 65001},
      {"unicode", 1200},         {"utf-16", 1200},         {"UCS-2", 1200},
      {"utf-16le", 1200},        {"unicodeFFFE", 1201},    {"UTF-16BE", 1201},
      {"iso-8859-8 visual", 28598}, {"ISO_8859_1", 28591}, {"ebcdic-latin9--euro", 20924},
      {"shift_jis", 932},        {"x-mac-arabic", 10004},  {"utf-32", 65005},
      // two-letter names are never recognised, even those in the table
      {"l1", 0},                 {"us", 0},                {"", 0},
      {"utf-9", 0},              {"utf-8x", 0},            {"latin 1", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(LookupCharset(c.name), c.code_page) << c.name;
  EXPECT_EQ(LookupCharset(" ANSI "), platform::SystemCodePage());
}

TEST(CharsetNames, TableCoversAllCodePages) {
  std::vector<unsigned> pages = KnownCodePages();
  EXPECT_EQ(pages.size(), 148u);
  EXPECT_EQ(pages.front(), 37u);
  EXPECT_EQ(pages.back(), 65006u);
}

TEST(Convert, SameOrZeroTargetKeepsBytes) {
  const std::string junk("\xFF\xFE\x00\xC3(\x80 text", 11);
  for (unsigned cp : {1200u, 65001u, 932u, 28591u, 0u}) {
    EXPECT_EQ(Converted(cp, cp, junk), junk);
    EXPECT_EQ(Converted(cp, 0, junk), junk);
  }
  std::string out = "stale";
  EXPECT_FALSE(Convert(0, 65001, "x", out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(ConvertFromCharset("no-such-charset", 65001, "x", out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(ConvertToCharset(65001, "xx", "x", out));
}

TEST(Convert, Utf16MarksDecideByteOrder) {
  // 1200 text that starts with FE FF is big-endian whatever the number says.
  EXPECT_EQ(Converted(1200, 65001, std::string("\xFE\xFF\x00\x41\x00\xE9", 6)), "A\xC3\xA9");
  EXPECT_EQ(Converted(1201, 65001, std::string("\xFF\xFE\x41\x00\xE9\x00", 6)), "A\xC3\xA9");
  EXPECT_EQ(Converted(1201, 65001, std::string("\x00\x41", 2)), "A");
  EXPECT_EQ(Converted(65001, 1201, "A\xC3\xA9"), std::string("\x00\x41\x00\xE9", 4));
  EXPECT_EQ(Converted(65001, 1200, "\xEF\xBB\xBFZ"), std::string("Z\x00", 2));
}

TEST(Convert, TransformationFormsRoundTrip) {
  // "Hi Mom -<smiling face>-!" is the classic UTF-7 example.
  EXPECT_EQ(Converted(65001, 65000, "Hi Mom -\xE2\x98\xBA-!"), "Hi Mom -+Jjo--!");
  EXPECT_EQ(Converted(65000, 65001, "Hi Mom -+Jjo--!"), "Hi Mom -\xE2\x98\xBA-!");
  EXPECT_EQ(Converted(65000, 65001, "1 +- 1"), "1 + 1");
  const std::string text = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";
  EXPECT_EQ(Converted(65000, 65001, Converted(65001, 65000, text)), text);
  EXPECT_EQ(Converted(65001, 65005, "A"), std::string("A\0\0\0", 4));
  EXPECT_EQ(Converted(65001, 65006, "A"), std::string("\0\0\0A", 4));
  EXPECT_EQ(Converted(65006, 65001, Converted(65001, 65006, text)), text);
  EXPECT_EQ(Converted(65005, 1201, Converted(65001, 65005, text)), Converted(65001, 1201, text));
}

TEST(Convert, Iso2022GoesThroughShiftJisAndKorean) {
  const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC ok \xEF\xBD\xB1";  // 日本 ok ｱ
  std::string jp = Converted(65001, 50220, japanese);
  EXPECT_EQ(jp.substr(0, 3), "\x1B$B");
  EXPECT_EQ(jp.substr(jp.size() - 3), "\x1B(B");
  EXPECT_EQ(Converted(50220, 65001, jp), japanese);
  EXPECT_EQ(Converted(50222, 65001, Converted(65001, 50222, japanese)), japanese);
  const std::string korean = "\xED\x95\x9C\xEA\xB5\xAD x";  // 한국 x
  std::string kr = Converted(65001, 50225, korean);
  EXPECT_EQ(kr.substr(0, 4), "\x1B$)C");
  EXPECT_EQ(Converted(50225, 65001, kr), korean);
}

TEST(Convert, MalformedInputBecomesReplacements) {
  EXPECT_EQ(Converted(65001, 28591, "a\xFFz"), "a?z");
  EXPECT_EQ(Converted(65000, 65001, "a\xE9"), "a\xEF\xBF\xBD");
  EXPECT_EQ(Converted(65005, 65001, std::string("\x00\xD8\x00\x00\x41\x00\x00\x00\x42", 9)),
            "\xEF\xBF\xBD" "A");
  // ISO-2022-JP: JIS-Roman taken as ASCII, half-width katakana by escape and by shift,
  // and a set that Shift-JIS cannot carry.
  EXPECT_EQ(Converted(50221, 65001, "\x1B(Jab\x1B(I\x31\x1B(B"), "ab\xEF\xBD\xB1");
  EXPECT_EQ(Converted(50222, 65001, "x\x0E\x31\x0Fy"), "x\xEF\xBD\xB1y");
  EXPECT_EQ(Converted(50220, 65001, "\x1B$(D\x30\x21\x1B(Bz"), "?z");
}

TEST(Convert, MacArabicCopiesOfAsciiAreFolded) {
  std::string out;
  if (!Convert(10004, 65001, "\xA8x\xA9\xBA", out)) {
    GTEST_SKIP() << "the platform's converter has no Mac Arabic table";
  }
  EXPECT_EQ(out, "(x):");
}

// Plain ASCII widens and narrows byte for byte, NUL and DEL included; a text with one
// character beyond ASCII anywhere converts whole, as a converter does it.
TEST(Convert, UnicodeFormsOfAsciiAndMixedText) {
  const std::string ascii("a\0/~\x7F", 5);
  const std::string ascii16("a\0\0\0/\0~\0\x7F\0", 10);
  EXPECT_EQ(Converted(65001, 1200, ascii), ascii16);
  EXPECT_EQ(Converted(1200, 65001, ascii16), ascii);
  EXPECT_EQ(Converted(65001, 1200, "ab\xC3\xA9"), std::string("a\0b\0\xE9\0", 6));
  EXPECT_EQ(Converted(1200, 65001, std::string("a\0b\0\xE9\0", 6)), "ab\xC3\xA9");
  EXPECT_EQ(Converted(1200, 65001, std::string("a\0\x42\x30", 4)), "a\xE3\x81\x82");
  EXPECT_EQ(Converted(65001, 1200, ""), "");
}

TEST(Convert, SingleByteCodePages) {
  EXPECT_EQ(Converted(28591, 65001, "caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(Converted(65001, 1252, "\xE2\x82\xAC"), "\x80");
  // A character the target cannot hold becomes "?".
  EXPECT_EQ(Converted(65001, 20127, "a\xE6\x97\xA5z"), "a?z");
}

// A source that holds characters back (1255 and 1258 combine them) meets a target that
// cannot take them; the conversion must end with a "?" in their place.
TEST(Convert, HeldBackCharactersEndTheConversion) {
  struct Case {
    unsigned from, to;
    std::string input, expected;
  } cases[] = {
      {1255, 10029, "\x93\x7B\xF8", "\xD2{?"},
      {1258, 852, "abc\xE8", "abc?"},
      {1255, 65001, "a\xE0", "a\xD7\x90"},
      {1258, 1252, "x\xE8", "x\xE8"},
  };
  for (const Case& c : cases) {
    std::string out;
    if (!platform::ConvertCodePage(c.from, c.to, c.input, out)) {
      std::printf("no converter for %u -> %u\n", c.from, c.to);
      continue;
    }
    // Windows may write a best-fit letter where iconv writes "?".
    if (c.expected.back() == '?' && out.size() == c.expected.size()) out.back() = '?';
    EXPECT_EQ(out, c.expected) << c.from << " -> " << c.to;
  }
}

// Targets that shift between single- and double-byte modes: a character they cannot hold
// becomes a "?" that reads back as "?", and the characters after it survive.
TEST(Convert, ReplacementInShiftingTargetsReadsBack) {
  const std::string text = "a\xE6\x97\xA5\xF0\x9F\x98\x80\xE6\x9C\xAC" "b";  // a日😀本b
  for (unsigned cp : {50930u, 50939u, 50933u, 50227u}) {
    std::string there, back;
    if (!Convert(65001, cp, text, there)) {
      std::printf("no converter for %u\n", cp);
      continue;
    }
    ASSERT_TRUE(Convert(cp, 65001, there, back)) << cp;
    EXPECT_EQ(back, "a\xE6\x97\xA5?\xE6\x9C\xAC" "b") << cp;
  }
}

// Every code page of the name table, tried with a round trip of plain text. The count is
// reported, as the converter of each platform knows a different share of them; the code
// pages that the conversion relies on, and the common ones, must convert everywhere.
TEST(Convert, CodePagesOfTheTable) {
  const std::string text = "HELLO, WORLD 0123";
  std::vector<unsigned> failed;
  for (unsigned cp : KnownCodePages()) {
    std::string there, back;
    if (!Convert(65001, cp, text, there) || !Convert(cp, 65001, there, back) || back != text) {
      failed.push_back(cp);
    }
  }
  std::string list;
  for (unsigned cp : failed) list += std::to_string(cp) + " ";
  std::printf("code pages converting: %zu of 148; not: %s\n", 148 - failed.size(), list.c_str());
  for (unsigned cp : {37u, 437u, 850u, 932u, 936u, 949u, 950u, 1200u, 1201u, 1250u, 1251u,
                      1252u, 1253u, 1254u, 1255u, 1256u, 1257u, 1258u, 10000u, 20127u,
                      20866u, 28591u, 28605u, 50220u, 50221u, 50222u, 50225u, 65000u,
                      65001u, 65005u, 65006u}) {
    EXPECT_EQ(std::find(failed.begin(), failed.end(), cp), failed.end()) << cp;
  }
}

}  // namespace
}  // namespace vemtu::packing
