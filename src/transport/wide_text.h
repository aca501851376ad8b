// 8-bit texts in the system code page as the UTF-16 texts the WinHTTP side takes.
#pragma once

#include <string>
#include <string_view>

namespace vemtu {

// `text` converted to UTF-16. The system code page of both builds is taken as UTF-8;
// a byte sequence that is not UTF-8 is converted byte by byte, so that nothing is lost.
std::u16string ToWide(std::string_view text);

}  // namespace vemtu
