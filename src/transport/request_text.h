// Small pure helpers of the transport: the request path as it goes on the request line,
// the choice of an authentication scheme, and the reply judgement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vemtu {

// `path` with every CR, LF, space and other control byte (0x00-0x1F, 0x7F) written as
// "%XX", so that no such byte reaches the request line raw; other bytes are unchanged.
// The result is cut at `max_chars` characters, never inside an escape.
std::string EncodeRequestPath(std::string_view path, std::size_t max_chars);
std::u16string EncodeRequestPath(std::u16string_view path, std::size_t max_chars);

// Authentication scheme bits as the WinHTTP library reports them.
constexpr std::uint32_t kAuthBasic = 0x1;
constexpr std::uint32_t kAuthNtlm = 0x2;
constexpr std::uint32_t kAuthPassport = 0x4;
constexpr std::uint32_t kAuthDigest = 0x8;
constexpr std::uint32_t kAuthNegotiate = 0x10;

// The first scheme present in `supported`, in the order Negotiate, NTLM, Passport,
// Digest, Basic; 0 when none of them is.
std::uint32_t PickAuthScheme(std::uint32_t supported);

// True when the reply, taken as a whole, is the acceptance "1" (letter case aside).
// "1" followed by a line break, or by anything else, is not.
bool IsAcceptedReply(std::string_view reply);

// True when the reply text is the refusal "0" (letter case aside).
bool IsRefusedReply(std::string_view reply);

}  // namespace vemtu
