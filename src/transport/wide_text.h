// 8-bit texts in the system code page as the UTF-16 texts the WinHTTP side takes.
#pragma once

#include <string>
#include <string_view>

namespace vemtu {

// `text` converted from the system code page to UTF-16. Should the platform's converter
// refuse, the bytes are taken as UTF-8, or else one character each, so nothing is lost.
std::u16string ToWide(std::string_view text);

}  // namespace vemtu
