#include "packing/content_coding.h"

namespace vemtu::packing {
namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

Base64Writer::Base64Writer(StringBuffer& out, int line_length)
    : out_(out), line_length_(line_length) {}

void Base64Writer::EncodeGroups(const unsigned char* p, std::size_t groups) {
  const std::size_t per_line = line_length_ >= 4 ? static_cast<std::size_t>(line_length_) / 4 : 1;
  char* w = out_.Extend(4 * groups + 2 * (groups / per_line + 1));
  char* const start = w;
  for (std::size_t g = 0; g < groups; ++g, p += 3) {
    unsigned v = (p[0] << 16) | (p[1] << 8) | p[2];
    w[0] = kAlphabet[v >> 18];
    w[1] = kAlphabet[(v >> 12) & 0x3F];
    w[2] = kAlphabet[(v >> 6) & 0x3F];
    w[3] = kAlphabet[v & 0x3F];
    w += 4;
    count_ += 4;
    if (count_ >= line_length_) {
      *w++ = '\r';
      *w++ = '\n';
      count_ = 0;
    }
  }
  out_.Commit(static_cast<std::size_t>(w - start));
}

void Base64Writer::Add(std::string_view bytes) {
  if (bytes.empty()) return;
  any_ = true;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t left = bytes.size();
  if (held_size_) {
    unsigned char group[3] = {held_[0], held_[1], 0};
    while (held_size_ < 3 && left) {
      group[held_size_++] = *p++;
      --left;
    }
    if (held_size_ < 3) {
      held_[0] = group[0];
      held_[1] = group[1];
      return;
    }
    EncodeGroups(group, 1);
    held_size_ = 0;
  }
  EncodeGroups(p, left / 3);
  p += left / 3 * 3;
  held_size_ = left % 3;
  for (std::size_t i = 0; i < held_size_; ++i) held_[i] = p[i];
}

void Base64Writer::End() {
  if (!any_) return;
  char* w = out_.Extend(6);
  char* const start = w;
  if (held_size_) {
    unsigned v = (held_[0] << 16) | (held_size_ == 2 ? held_[1] << 8 : 0);
    w[0] = kAlphabet[v >> 18];
    w[1] = kAlphabet[(v >> 12) & 0x3F];
    w[2] = held_size_ == 2 ? kAlphabet[(v >> 6) & 0x3F] : '=';
    w[3] = '=';
    w += 4;
  }
  *w++ = '\r';
  *w++ = '\n';
  out_.Commit(static_cast<std::size_t>(w - start));
  held_size_ = 0;
  any_ = false;
}

void ContentCoding::EncodeBase64(std::string_view bytes, StringBuffer& out) const {
  Base64Writer writer(out, line_length_);
  writer.Add(bytes);
  writer.End();
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
