// The directory-search matcher with the rules of the Windows listing:
//   '*'  any run of characters, the empty run included;
//   '?'  any one character, or nothing once the name has ended ("*.txt?" finds "a.txt");
//   '.'  a dot, or nothing at the end of the name when only '*', '?' and '.' follow it,
//        so that "*.*" also finds names without a dot.
// Letters are compared without regard to ASCII case.
#include "platform/dir_search.h"

namespace vemtu::platform {
namespace {

unsigned char Fold(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u + 32) : u;
}

// True when the rest of the pattern from `p` can match the end of the name: it holds
// nothing but '*', '?' and '.'.
bool MatchesEndOfName(const std::string& pattern, std::size_t p) {
  for (std::size_t i = p; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c != '*' && c != '?' && c != '.') return false;
  }
  return true;
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  // One moving position in each text; the last '*' seen is the only point to return to,
  // which keeps the match linear in practice and free of recursion.
  std::size_t p = 0, n = 0;
  std::size_t star = std::string::npos, star_n = 0;
  for (;;) {
    if (n < name.size() && p < pattern.size() && pattern[p] != '*' &&
        (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (n == name.size() && MatchesEndOfName(pattern, p)) {
      return true;
    } else if (star != std::string::npos && star_n < name.size()) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
}

}  // namespace vemtu::platform
