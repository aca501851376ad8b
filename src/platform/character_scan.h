// The walks both code-page backends share: a text read character by character, where a
// lead byte takes the byte after it into its character.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/codepage.h"

namespace vemtu::platform {

// FindCharacter's walk, with `is_lead_byte(byte)` telling whether a byte from 0x80 on
// starts a two-byte character.
template <typename IsLeadByte>
std::size_t ScanForCharacter(std::string_view text, char wanted, Occurrence which,
                             IsLeadByte is_lead_byte) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (text[i] == wanted) {
      if (which == Occurrence::kFirst) return i;
      found = i;
    } else if (byte >= 0x80 && is_lead_byte(byte)) {
      ++i;  // the second byte belongs to this character, whatever its value
    }
  }
  return found;
}

// LastCharacterStart's walk: in UTF-8 back over the continuation bytes, elsewhere forward
// from the start, a lead byte taking the byte after it.
template <typename IsLeadByte>
std::size_t FindLastCharacterStart(std::string_view text, unsigned code_page,
                                   IsLeadByte is_lead_byte) {
  if (text.empty()) return std::string_view::npos;
  std::size_t start = text.size() - 1;
  if (code_page == kCodePageUtf8) {
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    return start;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    start = i;
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80 && is_lead_byte(byte)) ++i;
  }
  return start;
}

}  // namespace vemtu::platform
