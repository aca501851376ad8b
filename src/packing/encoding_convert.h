// Conversion of byte strings between code pages, with the steps that the platform's
// converter does not take: byte-order marks, UTF-16 big-endian, UTF-7, UTF-32, the
// ISO-2022 forms of Japanese and Korean, and the Mac Arabic fold.
#pragma once

#include <string>
#include <string_view>

namespace vemtu::packing {

// Converts `input` from code page `from` to code page `to` into `output`. A target of 0 or
// one equal to the source returns the bytes unchanged. False (and `output` empty) when a
// code page is not known to the converter.
bool Convert(unsigned from, unsigned to, std::string_view input, std::string& output);

// The same with one side given by name; a name that is not recognised fails at once.
bool ConvertFromCharset(std::string_view charset, unsigned to, std::string_view input,
                        std::string& output);
bool ConvertToCharset(unsigned from, std::string_view charset, std::string_view input,
                      std::string& output);

}  // namespace vemtu::packing
