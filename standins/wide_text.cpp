#include "wide_text.h"

namespace vemtu::inet {

std::size_t WideLength(const char16_t* text) {
  std::size_t length = 0;
  if (text) {
    while (text[length] != 0) ++length;
  }
  return length;
}

std::string ToUtf8(const char16_t* text, std::size_t length) {
  std::string out;
  if (!text) return out;
  if (length == std::string::npos) length = WideLength(text);
  for (std::size_t i = 0; i < length; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string ToUtf16(const std::string& text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    char32_t c = lead < 0x80 ? lead : 0xFFFD;
    std::size_t used = 1;
    if (extra > 0 && i + extra < text.size()) {
      char32_t value = lead & (0x3F >> extra);
      bool whole = true;
      for (std::size_t k = 1; k <= extra && whole; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        whole = (next & 0xC0) == 0x80;
        value = (value << 6) | (next & 0x3F);
      }
      if (whole) {
        c = value;
        used = 1 + extra;
      }
    }
    i += used;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

}  // namespace vemtu::inet
