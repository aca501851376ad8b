// Charset names and their Windows code-page numbers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vemtu::packing {

// Code pages that the conversion treats specially.
constexpr unsigned kCodePageShiftJis = 932;
constexpr unsigned kCodePageKorean = 949;
constexpr unsigned kCodePageUtf16Le = 1200;
constexpr unsigned kCodePageUtf16Be = 1201;
constexpr unsigned kCodePageMacArabic = 10004;
constexpr unsigned kCodePageIso2022Jp = 50220;
constexpr unsigned kCodePageIso2022Jp1 = 50221;
constexpr unsigned kCodePageIso2022Jp2 = 50222;
constexpr unsigned kCodePageIso2022Kr = 50225;
constexpr unsigned kCodePageUtf7 = 65000;
constexpr unsigned kCodePageUtf8 = 65001;
constexpr unsigned kCodePageUtf32Le = 65005;
constexpr unsigned kCodePageUtf32Be = 65006;

// The name as the table stores it: white space trimmed from both ends, ASCII letters and
// the bytes 0xC0 to 0xDF lower-cased, every "_" turned into "-".
std::string NormalizeCharsetName(std::string_view name);

// The code page of a charset name or alias, 0 when it is not recognised. Names shorter
// than three bytes are never recognised; "ansi" is the system's ANSI code page.
unsigned LookupCharset(std::string_view name);

// Every code page that some name maps to, ascending.
std::vector<unsigned> KnownCodePages();

}  // namespace vemtu::packing
