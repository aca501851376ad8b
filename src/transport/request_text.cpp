#include "transport/request_text.h"

#include <type_traits>

namespace vemtu {

namespace {

template <typename Char>
std::basic_string<Char> Encode(std::basic_string_view<Char> path, std::size_t max_chars) {
  static const char kHex[] = "0123456789ABCDEF";
  std::basic_string<Char> out;
  out.reserve(path.size() < max_chars ? path.size() : max_chars);
  for (Char c : path) {
    auto byte = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
    bool escape = byte <= 0x20 || byte == 0x7F;
    std::size_t need = escape ? 3 : 1;
    if (out.size() + need > max_chars) break;
    if (escape) {
      out += '%';
      out += static_cast<Char>(kHex[byte >> 4]);
      out += static_cast<Char>(kHex[byte & 0xF]);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string EncodeRequestPath(std::string_view path, std::size_t max_chars) {
  return Encode(path, max_chars);
}

std::u16string EncodeRequestPath(std::u16string_view path, std::size_t max_chars) {
  return Encode(path, max_chars);
}

std::uint32_t PickAuthScheme(std::uint32_t supported) {
  for (std::uint32_t scheme : {kAuthNegotiate, kAuthNtlm, kAuthPassport, kAuthDigest, kAuthBasic}) {
    if (supported & scheme) return scheme;
  }
  return 0;
}

bool IsAcceptedReply(std::string_view reply) { return reply == "1"; }

bool IsRefusedReply(std::string_view reply) { return reply == "0"; }

}  // namespace vemtu
