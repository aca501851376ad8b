#include "packing/iso2022.h"

namespace vemtu::packing {
namespace {

constexpr char kEsc = 0x1B;
constexpr char kShiftOut = 0x0E;
constexpr char kShiftIn = 0x0F;

bool IsJisByte(unsigned char b) { return b >= 0x21 && b <= 0x7E; }

// The two-byte character sets that ISO-2022-JP texts designate.
enum class JpSet {
  kAscii,     // ESC ( B, and JIS-Roman (ESC ( J) taken as ASCII
  kKatakana,  // ESC ( I or SO: half-width katakana, one byte each
  kJis0208,   // ESC $ @ or ESC $ B: the JIS X 0208 characters Shift-JIS carries
  kOther,     // any other two-byte set (JIS X 0212, GB 2312, KS C 5601): not in Shift-JIS
};

}  // namespace

std::string Iso2022JpToShiftJis(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  JpSet set = JpSet::kAscii;
  JpSet before_shift_out = JpSet::kAscii;
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b == static_cast<unsigned char>(kEsc)) {
      std::string_view rest = text.substr(i + 1);
      if (rest.substr(0, 2) == "(B" || rest.substr(0, 2) == "(J") {
        set = JpSet::kAscii;
        i += 3;
      } else if (rest.substr(0, 2) == "(I") {
        set = JpSet::kKatakana;
        i += 3;
      } else if (rest.substr(0, 2) == "$@" || rest.substr(0, 2) == "$B") {
        set = JpSet::kJis0208;
        i += 3;
      } else if (rest.substr(0, 2) == "$A") {
        set = JpSet::kOther;
        i += 3;
      } else if (rest.substr(0, 3) == "$(D" || rest.substr(0, 3) == "$(C") {
        set = JpSet::kOther;
        i += 4;
      } else {
        ++i;  // an escape this decoder does not know: dropped
      }
      continue;
    }
    if (b == static_cast<unsigned char>(kShiftOut)) {
      before_shift_out = set;
      set = JpSet::kKatakana;
      ++i;
      continue;
    }
    if (b == static_cast<unsigned char>(kShiftIn)) {
      set = before_shift_out;
      ++i;
      continue;
    }
    if (b == '\r' || b == '\n' || !IsJisByte(b) || set == JpSet::kAscii) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    if (set == JpSet::kKatakana) {
      out.push_back(b <= 0x5F ? static_cast<char>(b + 0x80) : '?');
      ++i;
      continue;
    }
    if (i + 1 >= text.size() || !IsJisByte(static_cast<unsigned char>(text[i + 1]))) {
      out.push_back('?');
      ++i;
      continue;
    }
    unsigned char j2 = static_cast<unsigned char>(text[i + 1]);
    i += 2;
    if (set == JpSet::kOther || b > 0x7E) {
      out.push_back('?');
      continue;
    }
    unsigned s1 = ((b + 1u) >> 1) + (b <= 0x5E ? 0x70u : 0xB0u);
    unsigned s2 = j2 + ((b & 1) ? (j2 < 0x60 ? 0x1Fu : 0x20u) : 0x7Eu);
    out.push_back(static_cast<char>(s1));
    out.push_back(static_cast<char>(s2));
  }
  return out;
}

std::string ShiftJisToIso2022Jp(std::string_view text, unsigned code_page) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  JpSet set = JpSet::kAscii;
  const bool katakana_by_shift = code_page == 50222;
  auto switch_to = [&](JpSet next) {
    if (set == next) return;
    if (set == JpSet::kKatakana && katakana_by_shift) {
      out.push_back(kShiftIn);
      set = JpSet::kAscii;
      if (next == JpSet::kAscii) return;
    }
    switch (next) {
      case JpSet::kAscii: out += "\x1B(B"; break;
      case JpSet::kJis0208: out += "\x1B$B"; break;
      case JpSet::kKatakana:
        if (katakana_by_shift) {
          if (set != JpSet::kAscii) out += "\x1B(B";
          out.push_back(kShiftOut);
        } else {
          out += "\x1B(I";
        }
        break;
      case JpSet::kOther: break;
    }
    set = next;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char s1 = static_cast<unsigned char>(text[i]);
    if (s1 < 0x80) {
      switch_to(JpSet::kAscii);
      out.push_back(static_cast<char>(s1));
      ++i;
    } else if (s1 >= 0xA1 && s1 <= 0xDF) {
      switch_to(JpSet::kKatakana);
      out.push_back(static_cast<char>(s1 - 0x80));
      ++i;
    } else if (((s1 >= 0x81 && s1 <= 0x9F) || (s1 >= 0xE0 && s1 <= 0xEF)) && i + 1 < text.size()) {
      unsigned s2 = static_cast<unsigned char>(text[i + 1]);
      i += 2;
      if (s2 < 0x40 || s2 == 0x7F || s2 > 0xFC) {
        switch_to(JpSet::kAscii);
        out.push_back('?');
        continue;
      }
      unsigned row = s1 - (s1 <= 0x9F ? 0x70u : 0xB0u);
      unsigned j1, j2;
      if (s2 < 0x9F) {
        j1 = row * 2 - 1;
        j2 = s2 - (s2 < 0x7F ? 0x1Fu : 0x20u);
      } else {
        j1 = row * 2;
        j2 = s2 - 0x7E;
      }
      switch_to(JpSet::kJis0208);
      out.push_back(static_cast<char>(j1));
      out.push_back(static_cast<char>(j2));
    } else {
      // User-defined rows, lone lead bytes and stray bytes have no JIS form.
      switch_to(JpSet::kAscii);
      out.push_back('?');
      i += (s1 >= 0xF0 && s1 <= 0xFC && i + 1 < text.size()) ? 2 : 1;
    }
  }
  switch_to(JpSet::kAscii);
  return out;
}

std::string Iso2022KrToKorean(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool shifted = false;
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b == static_cast<unsigned char>(kEsc) && text.substr(i + 1, 3) == "$)C") {
      i += 4;
    } else if (b == static_cast<unsigned char>(kShiftOut)) {
      shifted = true;
      ++i;
    } else if (b == static_cast<unsigned char>(kShiftIn)) {
      shifted = false;
      ++i;
    } else if (shifted && IsJisByte(b) && i + 1 < text.size() &&
               IsJisByte(static_cast<unsigned char>(text[i + 1]))) {
      out.push_back(static_cast<char>(b | 0x80));
      out.push_back(static_cast<char>(text[i + 1] | 0x80));
      i += 2;
    } else {
      if (b == '\r' || b == '\n') shifted = false;
      out.push_back(shifted && b >= 0x80 ? '?' : static_cast<char>(b));
      ++i;
    }
  }
  return out;
}

std::string KoreanToIso2022Kr(std::string_view text) {
  std::string out = "\x1B$)C";
  out.reserve(text.size() + text.size() / 4 + 4);
  bool shifted = false;
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b >= 0x81 && b <= 0xFE && i + 1 < text.size()) {
      unsigned char t = static_cast<unsigned char>(text[i + 1]);
      i += 2;
      if (b >= 0xA1 && t >= 0xA1 && t <= 0xFE) {
        if (!shifted) out.push_back(kShiftOut);
        shifted = true;
        out.push_back(static_cast<char>(b & 0x7F));
        out.push_back(static_cast<char>(t & 0x7F));
        continue;
      }
      b = '?';  // a character outside the KS X 1001 set
    } else {
      ++i;
      if (b >= 0x80) b = '?';
    }
    if (shifted) out.push_back(kShiftIn);
    shifted = false;
    out.push_back(static_cast<char>(b));
  }
  if (shifted) out.push_back(kShiftIn);
  return out;
}

}  // namespace vemtu::packing
