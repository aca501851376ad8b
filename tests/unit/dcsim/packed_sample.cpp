#include "packed_sample.h"

#include <zlib.h>

namespace dcsim {

std::string DeflateRaw(const std::string& text) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, text.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Base64Lines(const std::string& bytes) {
  static const char kA[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  int line = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kA[v >> 18];
    out += kA[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kA[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kA[v & 63] : '=';
    if ((line += 4) == 72) {
      out += "\r\n";
      line = 0;
    }
  }
  return out + "\r\n";
}

std::string PackedSample(const std::string& root, const std::string& inner) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<" + root + "><![CDATA[" +
         Base64Lines(DeflateRaw(inner)) + "]]></" + root + ">\r\n";
}

}  // namespace dcsim
