// Texts from the agent folder (names and log fields in the system code page) made safe
// for JSON and HTML, whose readers expect UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace vemtu::check {

// A JSON string literal, quotes included. Bytes that are not UTF-8 are taken as Latin-1.
std::string JsonString(std::string_view text);

// Text for an HTML element or attribute value. Bytes that are not UTF-8 are taken as Latin-1.
std::string HtmlText(std::string_view text);

// The length of the UTF-8 sequence at `at`, or 0 when the bytes there are not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

}  // namespace vemtu::check
