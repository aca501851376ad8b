#include "packing/unicode_forms.h"

namespace vemtu::packing {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Characters that UTF-7 writes as themselves: the directly encoded and the optional
// direct characters, and white space. "+" starts a shifted run; "\" and "~" are shifted.
bool IsUtf7Direct(char16_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  if (c == ' ' || c == '\t' || c == '\r' || c == '\n') return true;
  static constexpr char kOthers[] = "'(),-./:?!\"#$%&*;<=>@[]^_`{|}";
  for (const char* o = kOthers; *o; ++o) {
    if (c == static_cast<unsigned char>(*o)) return true;
  }
  return false;
}

void AppendUtf16Le(char16_t unit, std::string& out) {
  out.push_back(static_cast<char>(unit & 0xFF));
  out.push_back(static_cast<char>(unit >> 8));
}

}  // namespace

char32_t NextUtf8(const unsigned char*& p, const unsigned char* end) {
  unsigned char b = *p++;
  if (b < 0x80) return b;
  int extra;
  char32_t cp;
  if (b >= 0xC2 && b <= 0xDF) {
    extra = 1;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    extra = 2;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    extra = 3;
    cp = b & 0x07;
  } else {
    return kReplacement;
  }
  const unsigned char* q = p;
  for (int i = 0; i < extra; ++i, ++q) {
    if (q == end || (*q & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (*q & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  p = q;
  return cp;
}

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string SwapBytePairs(std::string_view bytes) {
  std::string out(bytes.size() & ~static_cast<std::size_t>(1), '\0');
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out[i] = bytes[i + 1];
    out[i + 1] = bytes[i];
  }
  return out;
}

std::string Utf16LeToUtf7(std::string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  std::size_t i = 0;
  const std::size_t n = utf16.size() / 2;
  auto unit = [&](std::size_t k) {
    return static_cast<char16_t>(static_cast<unsigned char>(utf16[2 * k]) |
                                 (static_cast<unsigned char>(utf16[2 * k + 1]) << 8));
  };
  while (i < n) {
    char16_t c = unit(i);
    if (c == '+') {
      out += "+-";
      ++i;
      continue;
    }
    if (IsUtf7Direct(c)) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    // A shifted run: the units in modified base64, closed with "-".
    out.push_back('+');
    unsigned bits = 0;
    int count = 0;
    while (i < n && !IsUtf7Direct(unit(i)) && unit(i) != '+') {
      bits = (bits << 16) | unit(i++);
      count += 16;
      while (count >= 6) {
        count -= 6;
        out.push_back(kBase64[(bits >> count) & 0x3F]);
      }
    }
    if (count > 0) out.push_back(kBase64[(bits << (6 - count)) & 0x3F]);
    out.push_back('-');
  }
  return out;
}

std::string Utf7ToUtf16Le(std::string_view utf7) {
  std::string out;
  out.reserve(utf7.size() * 2);
  std::size_t i = 0;
  while (i < utf7.size()) {
    unsigned char c = static_cast<unsigned char>(utf7[i++]);
    if (c != '+') {
      AppendUtf16Le(c < 0x80 ? c : static_cast<char16_t>(kReplacement), out);
      continue;
    }
    if (i < utf7.size() && utf7[i] == '-') {
      AppendUtf16Le('+', out);
      ++i;
      continue;
    }
    unsigned bits = 0;
    int count = 0;
    int value;
    while (i < utf7.size() && (value = Base64Value(static_cast<unsigned char>(utf7[i]))) >= 0) {
      bits = (bits << 6) | static_cast<unsigned>(value);
      count += 6;
      ++i;
      if (count >= 16) {
        count -= 16;
        AppendUtf16Le(static_cast<char16_t>((bits >> count) & 0xFFFF), out);
      }
    }
    if (i < utf7.size() && utf7[i] == '-') ++i;  // the run's closing "-" is absorbed
  }
  return out;
}

std::string Utf8ToUtf32(std::string_view utf8, bool big_endian) {
  std::string out;
  out.reserve(utf8.size() * 4);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const unsigned char* end = p + utf8.size();
  while (p < end) {
    char32_t cp = NextUtf8(p, end);
    for (int k = 0; k < 4; ++k) {
      int shift = big_endian ? 24 - 8 * k : 8 * k;
      out.push_back(static_cast<char>((cp >> shift) & 0xFF));
    }
  }
  return out;
}

std::string Utf32ToUtf8(std::string_view utf32, bool big_endian) {
  std::string out;
  out.reserve(utf32.size());
  for (std::size_t i = 0; i + 4 <= utf32.size(); i += 4) {
    char32_t cp = 0;
    for (int k = 0; k < 4; ++k) {
      int shift = big_endian ? 24 - 8 * k : 8 * k;
      cp |= static_cast<char32_t>(static_cast<unsigned char>(utf32[i + k])) << shift;
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    AppendUtf8(cp, out);
  }
  return out;
}

}  // namespace vemtu::packing
