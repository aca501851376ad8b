#include "text_escape.h"

namespace vemtu::check {

namespace {

const char kHex[] = "0123456789abcdef";

std::string Hex4(unsigned value) {
  std::string out = "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
  return out;
}

// Copies every UTF-8 sequence of two or more bytes to `out` and hands every other byte
// to `escape`.
template <typename Escape>
std::string Transcribe(std::string_view text, Escape escape) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = Utf8SequenceLength(text, i);
    if (length > 1) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      escape(static_cast<unsigned char>(text[i++]), out);
    }
  }
  return out;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (lead >= 0xF5) length = 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points past U+10FFFF.
  unsigned char second = byte(at + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
    return 0;
  return length;
}

std::string JsonString(std::string_view text) {
  return "\"" + Transcribe(text, [](unsigned char c, std::string& out) {
           if (c == '"' || c == '\\') {
             out += '\\';
             out += static_cast<char>(c);
           } else if (c == '\n') {
             out += "\\n";
           } else if (c == '\t') {
             out += "\\t";
           } else if (c < 0x20 || c >= 0x7F) {
             out += Hex4(c);
           } else {
             out += static_cast<char>(c);
           }
         }) + "\"";
}

std::string HtmlText(std::string_view text) {
  return Transcribe(text, [](unsigned char c, std::string& out) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (c < 0x20 || c >= 0x7F)
          out += "&#x" + std::string(1, kHex[c >> 4]) + kHex[c & 0xF] + ";";
        else
          out += static_cast<char>(c);
    }
  });
}

}  // namespace vemtu::check
