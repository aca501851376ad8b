// Charset names and conversion between arbitrary code pages. Input: a charset name up to
// the first LF, a byte that picks the other code page, then the text. Every conversion
// must end, and one to the same code page must return the text unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "packing/charset_names.h"
#include "packing/encoding_convert.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vemtu::packing;
  static const std::vector<unsigned> pages = KnownCodePages();
  std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t lf = input.find('\n');
  if (lf == std::string::npos || lf + 1 >= input.size()) return 0;
  const std::string name = input.substr(0, lf);
  const unsigned other = pages[static_cast<unsigned char>(input[lf + 1]) % pages.size()];
  const std::string text = input.substr(lf + 2);

  const unsigned named = LookupCharset(name);
  if (named != LookupCharset(NormalizeCharsetName(name))) __builtin_trap();
  std::string out, back;
  // An unknown name fails at once; a known one may still meet a code page that the
  // platform's converter lacks.
  bool converted = ConvertFromCharset(name, other, text, out);
  if (named == 0 && (converted || !out.empty())) __builtin_trap();
  ConvertToCharset(other, name, text, back);
  if (named != 0) {
    std::string same;
    if (!Convert(named, named, text, same) || same != text) __builtin_trap();
    Convert(other, named, out, back);
  }
  return 0;
}
