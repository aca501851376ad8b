#include "packed_document.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace dcsim {

std::string OriginForm(const std::string& target) {
  std::size_t scheme_end = target.find("://");
  if (target.empty() || target[0] == '/' || scheme_end == std::string::npos) return target;
  std::size_t path = target.find('/', scheme_end + 3);
  std::size_t query = target.find('?', scheme_end + 3);
  if (path == std::string::npos || (query != std::string::npos && query < path)) {
    return query == std::string::npos ? "/" : "/" + target.substr(query);
  }
  return target.substr(path);
}

std::string PercentDecode(const std::string& text) {
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

TargetCheck CheckTarget(const std::string& target, const std::string& expected_query) {
  TargetCheck check;
  std::size_t question = target.find('?');
  std::string path = target.substr(0, question);
  std::string query = question == std::string::npos ? "" : target.substr(question + 1);
  std::size_t slash = path.rfind('/');
  std::string page = slash == std::string::npos ? path : path.substr(slash + 1);
  if (path.empty() || path[0] != '/' || page.size() < 8 || page.compare(0, 4, "tfr_") != 0 ||
      page.compare(page.size() - 4, 4, ".asp") != 0) {
    check.status = 404;
    check.problem = "no page " + path;
    return check;
  }
  check.prefix = PercentDecode(page.substr(4, page.size() - 8));
  static const char* const kKeys[] = {"mmid=", "sid=", "rid=", "rty="};
  std::size_t at = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    std::size_t n = std::strlen(kKeys[k]);
    if (query.compare(at, n, kKeys[k]) != 0) {
      check.status = 400;
      check.problem = std::string("query lacks ") + kKeys[k] + " in its place";
      return check;
    }
    std::size_t amp = query.find('&', at + n);
    if (k < 3 && amp == std::string::npos) {
      check.status = 400;
      check.problem = "query ends early";
      return check;
    }
    if (k == 3 && amp != std::string::npos) {
      check.status = 400;
      check.problem = "query has more than the four keys";
      return check;
    }
    at = amp + 1;
  }
  if (!expected_query.empty() && query != expected_query) {
    check.status = 400;
    check.problem = "query differs from the expected one";
  }
  return check;
}

bool DecodeBase64(const std::string& text, std::string& bytes) {
  bytes.clear();
  unsigned buffer = 0;
  int bits = 0, padding = 0;
  for (unsigned char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else if (c == '\r' || c == '\n' || c == ' ' || c == '\t')
      continue;
    else if (c == '=') {
      ++padding;
      continue;
    } else
      return false;
    if (padding) return false;  // data after padding
    buffer = (buffer << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return padding <= 2;
}

bool InflateRaw(const std::string& compressed, std::string& inner, std::size_t limit) {
  inner.clear();
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(compressed.size());
  std::vector<char> block(65536);
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(block.data());
    z.avail_out = static_cast<uInt>(block.size());
    rc = inflate(&z, Z_NO_FLUSH);
    inner.append(block.data(), block.size() - z.avail_out);
    if (inner.size() > limit) rc = Z_MEM_ERROR;
    if (rc == Z_BUF_ERROR && z.avail_in == 0) break;  // input ended before the stream did
  }
  inflateEnd(&z);
  return rc == Z_STREAM_END;
}

bool UnpackDocument(const std::string& body, std::string& inner) {
  static const std::string kOpen = "<![CDATA[";
  std::size_t open = body.find(kOpen);
  if (open == std::string::npos) return false;
  std::size_t start = open + kOpen.size();
  std::size_t close = body.find("]]>", start);
  if (close == std::string::npos) return false;
  std::string compressed;
  if (!DecodeBase64(body.substr(start, close - start), compressed) || compressed.empty())
    return false;
  return InflateRaw(compressed, inner, 256u << 20);
}

}  // namespace dcsim
