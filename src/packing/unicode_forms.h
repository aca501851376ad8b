// Unicode transformation forms that the conversion handles itself: UTF-8 scanning,
// UTF-7, UTF-32 and the UTF-16 byte swap.
#pragma once

#include <string>
#include <string_view>

namespace vemtu::packing {

// Decodes one UTF-8 sequence at `*p` (before `end`), advancing past it; malformed or cut
// sequences give U+FFFD and advance by at least one byte.
char32_t NextUtf8(const unsigned char*& p, const unsigned char* end);
void AppendUtf8(char32_t cp, std::string& out);

// Every pair of bytes swapped; an odd last byte is dropped.
std::string SwapBytePairs(std::string_view bytes);

// UTF-16 little-endian bytes to UTF-7 and back.
std::string Utf16LeToUtf7(std::string_view utf16);
std::string Utf7ToUtf16Le(std::string_view utf7);

// UTF-8 to UTF-32 (little- or big-endian) and back. Code points that UTF-32 cannot carry
// (surrogates, values past U+10FFFF) become U+FFFD; a cut last unit is dropped.
std::string Utf8ToUtf32(std::string_view utf8, bool big_endian);
std::string Utf32ToUtf8(std::string_view utf32, bool big_endian);

}  // namespace vemtu::packing
