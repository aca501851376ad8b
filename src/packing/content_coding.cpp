#include "packing/content_coding.h"

namespace vemtu::packing {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

void ContentCoding::EncodeBase64(std::string_view bytes, StringBuffer& out) const {
  if (bytes.empty()) return;
  const std::size_t groups = bytes.size() / 3;
  const std::size_t per_line = line_length_ >= 4 ? static_cast<std::size_t>(line_length_) / 4 : 1;
  const std::size_t total = 4 * ((bytes.size() + 2) / 3) + 2 * (groups / per_line) + 2;
  char* w = out.Extend(total);
  char* const start = w;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  int count = 0;
  for (std::size_t g = 0; g < groups; ++g, p += 3) {
    unsigned v = (p[0] << 16) | (p[1] << 8) | p[2];
    w[0] = kAlphabet[v >> 18];
    w[1] = kAlphabet[(v >> 12) & 0x3F];
    w[2] = kAlphabet[(v >> 6) & 0x3F];
    w[3] = kAlphabet[v & 0x3F];
    w += 4;
    count += 4;
    if (count >= line_length_) {
      *w++ = '\r';
      *w++ = '\n';
      count = 0;
    }
  }
  std::size_t rest = bytes.size() - 3 * groups;
  if (rest) {
    unsigned v = (p[0] << 16) | (rest == 2 ? p[1] << 8 : 0);
    w[0] = kAlphabet[v >> 18];
    w[1] = kAlphabet[(v >> 12) & 0x3F];
    w[2] = rest == 2 ? kAlphabet[(v >> 6) & 0x3F] : '=';
    w[3] = '=';
    w += 4;
  }
  *w++ = '\r';
  *w++ = '\n';
  out.Commit(static_cast<std::size_t>(w - start));
}

bool ContentCoding::DecodeBase64(std::string_view text, std::string& out) {
  out.clear();
  out.reserve(text.size() / 4 * 3);
  unsigned bits = 0;
  int count = 0;   // characters in the current group
  int padding = 0;
  bool done = false;  // a padded group ends the text
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
    if (done) return false;
    int value;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+') value = 62;
    else if (c == '/') value = 63;
    else if (c == '=') value = -1;
    else return false;
    if (value < 0) {
      if (count < 2) return false;
      ++padding;
      value = 0;
    } else if (padding) {
      return false;  // data after padding
    }
    bits = (bits << 6) | static_cast<unsigned>(value);
    if (++count == 4) {
      out.push_back(static_cast<char>(bits >> 16));
      if (padding < 2) out.push_back(static_cast<char>((bits >> 8) & 0xFF));
      if (padding < 1) out.push_back(static_cast<char>(bits & 0xFF));
      done = padding > 0;
      count = 0;
      bits = 0;
    }
  }
  return count == 0;
}

}  // namespace vemtu::packing
