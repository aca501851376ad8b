#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace vemtu::platform {
namespace {

constexpr std::size_t kNone = std::string::npos;

// Under 932, 936 and 950 the second byte of some characters is 0x5C ("\") or 0x5F ("_"):
// ソ 83 5C, ダ 83 5F (932), 乗 81 5C, 乢 81 5F (936), 許 B3 5C, 北 A5 5F (950).
TEST(FindCharacter, SplitsByCharacterNotByByte) {
  struct Case {
    unsigned code_page;
    std::string text;
    char wanted;
    Occurrence which;
    std::size_t at;
  } cases[] = {
      {932, "AT_N_\x83\x5C.txt", '_', Occurrence::kLast, 4},
      {932, "AT_N_1.a\x83\x5C", '\\', Occurrence::kLast, kNone},
      {932, "AT_N_1.a\x83\x5C", '.', Occurrence::kLast, 6},
      {932, "\x83\x5F\x83\x45\x83\x93_N_1.txt", '_', Occurrence::kFirst, 6},
      {932, "C:\\\x83\x5C\x83\x74\x83\x67\\Vemtu", '\\', Occurrence::kLast, 9},
      {932, "C:\\\x83\x5C\x83\x74\x83\x67\\Vemtu", '\\', Occurrence::kFirst, 2},
      {932, "\x83\x5F", '_', Occurrence::kFirst, kNone},
      {932, "x\x83", '_', Occurrence::kFirst, kNone},  // a lead byte at the end
      {932, "\xB1_", '_', Occurrence::kFirst, 1},     // half-width katakana is one byte
      {936, "\x81\x5C\x81\x5F_1.txt", '_', Occurrence::kFirst, 4},
      {936, "a\\\x81\x5C", '\\', Occurrence::kLast, 1},
      {950, "\xB3\x5C\xA5\x5F_1.txt", '_', Occurrence::kFirst, 4},
      {950, "d\\\xB3\x5C.txt", '\\', Occurrence::kLast, 1},
      // UTF-8 and the single-byte code pages: every byte below 0x80 is its own character.
      {65001, "\xE3\x82\xBD_\\x", '_', Occurrence::kFirst, 3},
      {65001, "a\\b\\c", '\\', Occurrence::kLast, 3},
      {1252, "\x83\x5C", '\\', Occurrence::kLast, 1},
      {932, "", '_', Occurrence::kFirst, kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindCharacter(c.text, c.wanted, c.which, c.code_page), c.at)
        << c.code_page << " '" << c.wanted << "' in " << c.text;
  }
}

TEST(LastCharacterStart, NeverLeavesAFirstByteBehind) {
  struct Case {
    unsigned code_page;
    std::string text;
    std::size_t at;
  } cases[] = {
      {932, "X.txt\x83\x5C", 5},  {932, "X.\x83\x5C" "1", 4},   {932, "\x83", 0},
      {936, "a\x81\x5F", 1},      {950, "\xB3\x5C\xB3\x5C", 2},
      {65001, "X.txt\xE3\x82\xBD", 5}, {65001, "ab", 1}, {1252, "a\x83\x5C", 2},
      {932, "", kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LastCharacterStart(c.text, c.code_page), c.at) << c.code_page << " " << c.text;
  }
}

}  // namespace
}  // namespace vemtu::platform
