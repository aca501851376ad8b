// UTF-8 <-> UTF-16 conversion for the component boundary, where texts cross as UTF-16.
// Both directions reject malformed input instead of guessing.
#pragma once

#include <string>
#include <string_view>

namespace vemtu::platform {

// UTF-8 to UTF-16; false on a malformed, overlong or surrogate-encoding sequence.
inline bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
  std::u16string result;
  result.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    unsigned char lead = static_cast<unsigned char>(in[i]);
    char32_t code;
    std::size_t extra;
    if (lead < 0x80) { code = lead; extra = 0; }
    else if (lead >= 0xC2 && lead <= 0xDF) { code = lead & 0x1F; extra = 1; }
    else if (lead >= 0xE0 && lead <= 0xEF) { code = lead & 0x0F; extra = 2; }
    else if (lead >= 0xF0 && lead <= 0xF4) { code = lead & 0x07; extra = 3; }
    else return false;
    if (in.size() - i - 1 < extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(in[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      result.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      result.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      result.push_back(static_cast<char16_t>(code));
    }
    i += extra + 1;
  }
  out.swap(result);
  return true;
}

// UTF-16 to UTF-8; false on an unpaired surrogate.
inline bool Utf16ToUtf8(std::u16string_view in, std::string& out) {
  std::string result;
  result.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t code = in[i];
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xDC00 && code <= 0xDFFF) {
      return false;
    }
    if (code < 0x80) {
      result.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      result.push_back(static_cast<char>(0xC0 | (code >> 6)));
      result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | (code >> 12)));
      result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | (code >> 18)));
      result.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  out.swap(result);
  return true;
}

}  // namespace vemtu::platform
