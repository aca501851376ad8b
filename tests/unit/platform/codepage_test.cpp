#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace vemtu::platform {
namespace {

constexpr std::size_t kNone = std::string::npos;

// Under 932, 936 and 950 the second byte of some characters is 0x5C ("\") or 0x5F ("_"):
// ソ 83 5C, ダ 83 5F (932), 乗 81 5C, 乢 81 5F (936), 許 B3 5C, 北 A5 5F (950).
TEST(CodePage, SplitsAndCutsByCharacterNotByByte) {
  struct Case {
    unsigned code_page;
    std::string text;
    std::size_t first_underscore, last_backslash, last_start;
  } cases[] = {
      {932, "AT_N_\x83\x5C.txt", 2, kNone, 10},
      {932, "\x83\x5F\x83\x45_N_1.a\x83\x5C", 4, kNone, 10},
      {932, "C:\\\x83\x5C\x83\x74\\V", kNone, 7, 8},
      {932, "x\x83", kNone, kNone, 1},  // a lead byte at the end
      {932, "\xB1_", 1, kNone, 1},      // half-width katakana is one byte
      {936, "\x81\x5C\x81\x5F_\\", 4, 5, 5},
      {950, "\xB3\x5C\xA5\x5F_.\xB3\x5C", 4, kNone, 6},
      // UTF-8 and the single-byte code pages: every byte below 0x80 is its own character.
      {65001, "\xE3\x82\xBD_\\\xE3\x82\xBD", 3, 4, 5},
      {1252, "\x83\x5C_", 2, 1, 2},
      {932, "", kNone, kNone, kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindCharacter(c.text, '_', Occurrence::kFirst, c.code_page), c.first_underscore)
        << c.code_page << " " << c.text;
    EXPECT_EQ(FindCharacter(c.text, '\\', Occurrence::kLast, c.code_page), c.last_backslash)
        << c.code_page << " " << c.text;
    EXPECT_EQ(LastCharacterStart(c.text, c.code_page), c.last_start)
        << c.code_page << " " << c.text;
  }
}

}  // namespace
}  // namespace vemtu::platform
