#include "packing/encoding_convert.h"

#include "packing/charset_names.h"
#include "packing/iso2022.h"
#include "packing/unicode_forms.h"
#include "platform/codepage.h"

namespace vemtu::packing {
namespace {

bool IsIso2022Jp(unsigned cp) { return cp >= kCodePageIso2022Jp && cp <= kCodePageIso2022Jp2; }

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Mac Arabic carries right-to-left copies of the ASCII punctuation. They mean the same
// characters in Unicode text, and converters differ on them, so they are folded to their
// ASCII bytes before the general conversion.
std::string FoldMacArabic(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    unsigned char b = static_cast<unsigned char>(c);
    bool copy = (b >= 0xA0 && b <= 0xAF && b != 0xA5 && b != 0xAC) || b == 0xBA ||
                (b >= 0xBC && b <= 0xBE) || (b >= 0xDB && b <= 0xDF) ||
                (b >= 0xFB && b <= 0xFE);
    if (copy) c = static_cast<char>(b - 0x80);
  }
  return out;
}

// The general step: the source's own marks and transformation forms are taken off, then
// the platform maps the text. `to` is 1200, 65001 or a code page of the platform.
bool ConvertGeneral(unsigned from, unsigned to, std::string_view input, std::string& output) {
  std::string decoded;
  if (from == kCodePageUtf16Le || from == kCodePageUtf16Be) {
    bool big_endian = from == kCodePageUtf16Be;
    if (StartsWith(input, "\xFF\xFE")) {
      big_endian = false;
      input.remove_prefix(2);
    } else if (StartsWith(input, "\xFE\xFF")) {
      big_endian = true;
      input.remove_prefix(2);
    }
    if (big_endian) {
      decoded = SwapBytePairs(input);
      input = decoded;
    }
    from = kCodePageUtf16Le;
  } else if (from == kCodePageUtf8) {
    if (StartsWith(input, "\xEF\xBB\xBF")) input.remove_prefix(3);
  } else if (from == kCodePageUtf7) {
    decoded = Utf7ToUtf16Le(input);
    input = decoded;
    from = kCodePageUtf16Le;
  } else if (from == kCodePageUtf32Le || from == kCodePageUtf32Be) {
    decoded = Utf32ToUtf8(input, from == kCodePageUtf32Be);
    input = decoded;
    from = kCodePageUtf8;
  }
  if (from == to) {
    output.assign(input);
    return true;
  }
  return platform::ConvertCodePage(from, to, input, output);
}

}  // namespace

bool Convert(unsigned from, unsigned to, std::string_view input, std::string& output) {
  output.clear();
  if (to == 0 || to == from) {
    output.assign(input);
    return true;
  }
  if (from == 0) return false;

  // Source steps.
  std::string prepared;
  std::string_view source = input;
  if (IsIso2022Jp(from)) {
    prepared = Iso2022JpToShiftJis(input);
    from = kCodePageShiftJis;
    source = prepared;
  } else if (from == kCodePageIso2022Kr) {
    prepared = Iso2022KrToKorean(input);
    from = kCodePageKorean;
    source = prepared;
  } else if (from == kCodePageMacArabic) {
    prepared = FoldMacArabic(input);
    source = prepared;
  }

  // The form the general step produces for the target.
  unsigned produce = to;
  if (to == kCodePageUtf16Be || to == kCodePageUtf7) {
    produce = kCodePageUtf16Le;
  } else if (IsIso2022Jp(to)) {
    produce = kCodePageShiftJis;
  } else if (to == kCodePageIso2022Kr) {
    produce = kCodePageKorean;
  } else if (to == kCodePageUtf32Le || to == kCodePageUtf32Be) {
    produce = kCodePageUtf8;
  }

  std::string produced;
  if (!ConvertGeneral(from, produce, source, produced)) {
    output.clear();
    return false;
  }
  prepared = std::string();

  // Target steps.
  if (to == kCodePageUtf16Be) {
    output = SwapBytePairs(produced);
  } else if (to == kCodePageUtf7) {
    output = Utf16LeToUtf7(produced);
  } else if (IsIso2022Jp(to)) {
    output = ShiftJisToIso2022Jp(produced, to);
  } else if (to == kCodePageIso2022Kr) {
    output = KoreanToIso2022Kr(produced);
  } else if (to == kCodePageUtf32Le || to == kCodePageUtf32Be) {
    output = Utf8ToUtf32(produced, to == kCodePageUtf32Be);
  } else {
    output.swap(produced);
  }
  return true;
}

bool ConvertFromCharset(std::string_view charset, unsigned to, std::string_view input,
                        std::string& output) {
  output.clear();
  unsigned from = LookupCharset(charset);
  return from != 0 && Convert(from, to, input, output);
}

bool ConvertToCharset(unsigned from, std::string_view charset, std::string_view input,
                      std::string& output) {
  output.clear();
  unsigned to = LookupCharset(charset);
  return to != 0 && Convert(from, to, input, output);
}

}  // namespace vemtu::packing
