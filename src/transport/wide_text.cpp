#include "transport/wide_text.h"

#include "platform/component_utf16.h"

namespace vemtu {

std::u16string ToWide(std::string_view text) {
  std::u16string wide;
  if (platform::Utf8ToUtf16(text, wide)) return wide;
  wide.clear();
  for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

}  // namespace vemtu
