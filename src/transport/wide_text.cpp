#include "transport/wide_text.h"

#include "platform/codepage.h"
#include "platform/component_utf16.h"

namespace vemtu {

std::u16string ToWide(std::string_view text) {
  std::u16string wide;
  if (text.empty()) return wide;
  std::string utf16le;
  if (platform::ConvertCodePage(platform::SystemCodePage(), platform::kCodePageUtf16Le, text,
                                utf16le)) {
    wide.reserve(utf16le.size() / 2);
    for (std::size_t i = 0; i + 1 < utf16le.size(); i += 2) {
      wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(utf16le[i]) |
                                           (static_cast<unsigned char>(utf16le[i + 1]) << 8)));
    }
    return wide;
  }
  if (platform::Utf8ToUtf16(text, wide)) return wide;
  wide.clear();
  for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

std::string EscapeUnconvertibleBytes(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  bool high = false;
  for (char c : path) high |= static_cast<unsigned char>(c) >= 0x80;
  if (!high) return std::string(path);
  std::string utf16le, back;
  unsigned system = platform::SystemCodePage();
  if (platform::ConvertCodePage(system, platform::kCodePageUtf16Le, path, utf16le) &&
      platform::ConvertCodePage(platform::kCodePageUtf16Le, system, utf16le, back) &&
      back == path) {
    return std::string(path);
  }
  std::string escaped;
  for (char c : path) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      escaped += c;
    } else {
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0xF];
    }
  }
  return escaped;
}

}  // namespace vemtu
