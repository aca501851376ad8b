// UTF-16 texts (the WinHTTP side) to and from UTF-8.
#pragma once

#include <cstddef>
#include <string>

namespace vemtu::inet {

// Units up to the terminating zero; 0 for nullptr.
std::size_t WideLength(const char16_t* text);
// `length` units of `text` (or up to its zero when `length` is npos) as UTF-8; unpaired
// surrogates become U+FFFD.
std::string ToUtf8(const char16_t* text, std::size_t length = std::string::npos);
std::u16string ToUtf16(const std::string& text);

}  // namespace vemtu::inet
