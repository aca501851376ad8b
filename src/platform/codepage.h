// Conversion of byte strings between Windows code pages by the platform's own converter.
#pragma once

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

}  // namespace vemtu::platform
