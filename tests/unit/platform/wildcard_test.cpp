#include <gtest/gtest.h>

#include "platform/dir_search.h"

namespace vemtu::platform {
namespace {

struct MatchCase {
  const char* pattern;
  const char* name;
  bool matches;
};

TEST(WildcardMatch, FollowsTheListingRules) {
  const MatchCase cases[] = {
      // A '?' at the end also matches the end of the name.
      {"*.txt?", "a.txt", true},
      {"*.txt?", "a.txt1", true},
      {"*.txt?", "a.txt12", false},
      {"*.txt", "a.txt1", false},
      {"*.txt", "a.txt", true},
      {"a??", "a", true},
      {"a?b", "ab", false},
      {"?", "", true},
      // The posting patterns.
      {"*_N_*.xml?", "x_N_y.xml", true},
      {"*_N_*.xml?", "x_N_y.xml1", true},
      {"*_N_*.xml?", "x_Y_y.xml", false},
      {"*_N_*.xml?", "_N_.xml", true},
      {"*_N_*.xml?", "a_N_b_N_c.xml2", true},
      {"*_N_*.txt", "x_N_y.xml", false},
      {"tfr_Urgent*.*", "tfr_Urgent_1.xml", true},
      {"tfr_Urgent*.*", "tfr_Urgent", true},
      {"tfr_Urgent*.*", "tfr_Other.xml", false},
      // "*.*" takes names with and without a dot.
      {"*.*", "plain", true},
      {"*.*", "a.b.c", true},
      {"*.*", ".", true},
      {"a.*.*", "a", true},
      {"a.x", "a", false},
      {"*", "anything at all", true},
      {"*", "", true},
      // Letter case is ignored, other bytes compare as they are.
      {"*.TXT", "a.txt", true},
      {"ABC.xml", "abc.XML", true},
      {"a.txt", "a_txt", false},
      // Backtracking over several stars.
      {"*a*b*c", "xxaxxbxxbxxc", true},
      {"*a*b*c", "xxaxxbxxbxxd", false},
      {"**?", "", true},
      {"*ab", "aab", true},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.matches)
        << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
  }
}

}  // namespace
}  // namespace vemtu::platform
