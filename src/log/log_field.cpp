// Texts from outside (replies, file names) made safe to stand as one log field.
#include "log/log_writer.h"
#include "platform/paths.h"

namespace vemtu {

std::string EscapeLogField(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + 32);
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string LoggablePath(std::string_view path) {
  if (platform::kPathSeparator == '\\') return std::string(path);
  return EscapeLogField(path);
}

}  // namespace vemtu
