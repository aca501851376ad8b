// The 7-bit ISO-2022 forms of Japanese and Korean text, converted from and to the
// code pages they are carried through: Shift-JIS (932) and Korean (949).
#pragma once

#include <string>
#include <string_view>

namespace vemtu::packing {

// Characters that the other side cannot carry become "?".
std::string Iso2022JpToShiftJis(std::string_view text);
// `code_page` 50220 and 50221 shift half-width katakana in with ESC ( I, 50222 with SO/SI.
std::string ShiftJisToIso2022Jp(std::string_view text, unsigned code_page);

std::string Iso2022KrToKorean(std::string_view text);
std::string KoreanToIso2022Kr(std::string_view text);

}  // namespace vemtu::packing
