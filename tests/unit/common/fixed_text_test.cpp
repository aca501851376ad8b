#include "common/fixed_text.h"

#include <gtest/gtest.h>

namespace vemtu {
namespace {

TEST(FixedText, CutsAtCapacityKeepingTheTerminatingZero) {
  FixedText<5> text("abcdefgh");
  EXPECT_EQ(text.view(), "abcd");
  EXPECT_EQ(text.size(), 4u);
  text.Assign("xy").Append("zzzz");
  EXPECT_EQ(text.view(), "xyzz");
  EXPECT_STREQ(text.c_str(), "xyzz");
}

TEST(CopyCapped, StopsAtTheBufferAndAppendsWithinIt) {
  char buffer[6];
  EXPECT_EQ(CopyCapped(buffer, sizeof buffer, "123"), 3u);
  EXPECT_EQ(AppendCapped(buffer, sizeof buffer, "4567"), 2u);
  EXPECT_STREQ(buffer, "12345");
  EXPECT_EQ(AppendCapped(buffer, sizeof buffer, "x"), 0u);
  EXPECT_STREQ(buffer, "12345");
}

TEST(LeadingNumber, ReadsDigitsSignsAndClampsLargeValues) {
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber("junk"), 0);
  EXPECT_EQ(LeadingNumber("123abc"), 123);
  EXPECT_EQ(LeadingNumber("-7"), -7);
  EXPECT_EQ(LeadingNumber("99999999999999999999"), 2147483647);
  EXPECT_EQ(LeadingNumber("-99999999999999999999"), -2147483648LL);
}

TEST(EqualsIgnoreCase, ComparesAsciiLettersWithoutCase) {
  EXPECT_TRUE(EqualsIgnoreCase("Status", "sTATUS"));
  EXPECT_FALSE(EqualsIgnoreCase("Status", "Status "));
}

}  // namespace
}  // namespace vemtu
