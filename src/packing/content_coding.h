// Base64 as the packed document carries it: RFC 4648 alphabet and padding, CR LF after
// every full line, and CR LF once more at the very end.
#pragma once

#include <string>
#include <string_view>

#include "packing/buffers.h"

namespace vemtu::packing {

// Base64 of bytes that come in pieces, appended to `out` as they come: the same text
// that ContentCoding::EncodeBase64 gives for all the pieces at once.
class Base64Writer {
 public:
  explicit Base64Writer(StringBuffer& out, int line_length);
  // Encodes every whole group of three bytes; up to two bytes wait for the next piece.
  void Add(std::string_view bytes);
  // The padded last group and the final CR LF; nothing at all when no byte came.
  void End();

 private:
  void EncodeGroups(const unsigned char* p, std::size_t groups);

  StringBuffer& out_;
  int line_length_;
  int count_ = 0;  // characters on the current line
  unsigned char held_[2] = {};
  std::size_t held_size_ = 0;
  bool any_ = false;
};

class ContentCoding {
 public:
  static constexpr int kPackedLineLength = 72;

  explicit ContentCoding(int line_length = kPackedLineLength) : line_length_(line_length) {}

  // Appends the encoded text: four characters per group of three bytes, CR LF whenever
  // the groups on the line reach the line length, the padded last group not counted,
  // then CR LF whatever the count. An empty input gives no text at all.
  void EncodeBase64(std::string_view bytes, StringBuffer& out) const;

  // Decodes base64 text, ignoring CR, LF, tab and space. False on any other byte outside
  // the alphabet, on padding in the wrong place, or on a cut group.
  static bool DecodeBase64(std::string_view text, std::string& out);

 private:
  int line_length_;
};

}  // namespace vemtu::packing
