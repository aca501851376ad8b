// Conversion of byte strings between Windows code pages by the platform's own converter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vemtu::platform {

constexpr unsigned kCodePageUtf16Le = 1200;
constexpr unsigned kCodePageUtf8 = 65001;

// The system's ANSI code page: GetACP on Windows, UTF-8 (65001) on Linux.
unsigned SystemCodePage();

// Converts `input` from code page `from` to code page `to`. Both are Windows code-page
// numbers: a single- or multibyte code page that the platform's converter knows, 1200
// (UTF-16 little-endian, no byte-order mark expected) or 65001 (UTF-8). Malformed input
// and characters that the target cannot hold come out as the target's "?". Returns false,
// with `output` empty, when either code page is unknown to the converter.
bool ConvertCodePage(unsigned from, unsigned to, std::string_view input, std::string& output);

// Which occurrence FindCharacter looks for.
enum class Occurrence {
  kFirst,  // the first one
  kLast,   // the last one
};

// The offset of the first or last occurrence of the ASCII character `wanted` in `text`,
// read character by character in `code_page` (the system code page unless a test names
// another); npos when there is none. Every split of a name or path at "\", "/", "_" or "."
// goes through here: in the double-byte code pages (932, 936, 949, 950 ...) the second
// byte of a character may be 0x5C or 0x5F, and is then no separator. In UTF-8 and the
// single-byte code pages every such byte is the character itself.
std::size_t FindCharacter(std::string_view text, char wanted, Occurrence which,
                          unsigned code_page = SystemCodePage());

// The offset at which the last character of `text` starts, read as FindCharacter reads
// it; npos for an empty text. Cutting a text's last character cuts there, so that no lone
// first byte of a two-byte character is left behind.
std::size_t LastCharacterStart(std::string_view text, unsigned code_page = SystemCodePage());

}  // namespace vemtu::platform
