#include "transport/request_text.h"

#include <type_traits>

#include "log/log_writer.h"

namespace vemtu {

namespace {

template <typename Char>
bool Encode(std::basic_string_view<Char> path, std::size_t max_chars,
            std::basic_string<Char>& out) {
  static const char kHex[] = "0123456789ABCDEF";
  out.clear();
  for (Char c : path) {
    auto byte = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
    bool escape = byte <= 0x20 || byte == 0x7F;
    if (out.size() + (escape ? 3 : 1) > max_chars) {
      out.clear();
      return false;
    }
    if (escape) {
      out += '%';
      out += static_cast<Char>(kHex[byte >> 4]);
      out += static_cast<Char>(kHex[byte & 0xF]);
    } else {
      out += c;
    }
  }
  return true;
}

}  // namespace

bool EncodeRequestPath(std::string_view path, std::size_t max_chars, std::string& encoded) {
  return Encode(path, max_chars, encoded);
}

bool EncodeRequestPath(std::u16string_view path, std::size_t max_chars,
                       std::u16string& encoded) {
  return Encode(path, max_chars, encoded);
}

std::uint32_t PickAuthScheme(std::uint32_t supported) {
  for (std::uint32_t scheme : {kAuthNegotiate, kAuthNtlm, kAuthPassport, kAuthDigest, kAuthBasic}) {
    if (supported & scheme) return scheme;
  }
  return 0;
}

std::string_view ReplyText(std::string_view reply) { return reply.substr(0, reply.find('\0')); }

bool IsAcceptedReply(std::string_view reply) { return ReplyText(reply) == "1"; }

bool IsRefusedReply(std::string_view reply) { return ReplyText(reply) == "0"; }

std::string LoggableReply(std::string_view reply) {
  std::string_view shown = reply.substr(0, kLoggedReplyChars);
  std::string out = EscapeLogField(shown);
  if (shown.size() < reply.size()) {
    out += "\\[cut: " + std::to_string(reply.size()) + " bytes]";
  }
  return out;
}

}  // namespace vemtu
