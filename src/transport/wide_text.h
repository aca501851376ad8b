// 8-bit texts in the system code page as the UTF-16 texts the WinHTTP side takes.
#pragma once

#include <string>
#include <string_view>

namespace vemtu {

// `text` converted from the system code page to UTF-16. Should the platform's converter
// refuse, the bytes are taken as UTF-8, or else one character each, so nothing is lost.
std::u16string ToWide(std::string_view text);

// `path` unchanged when the system code page converts it to UTF-16 and back to the same
// bytes; otherwise with every byte from 0x80 on written as "%XX". A byte the code page
// cannot convert would otherwise reach the request line as "?", which starts a query.
std::string EscapeUnconvertibleBytes(std::string_view path);

}  // namespace vemtu
