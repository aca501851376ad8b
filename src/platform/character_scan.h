// The walk both code-page backends share: a text read character by character, where a
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

}  // namespace vemtu::platform
