// Small pure helpers of the transport: the request path as it goes on the request line,
// the choice of an authentication scheme, and the reply judgement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vemtu {

// Longest request path handed to a library: a path of 359 characters in which every
// byte is written "%XX". The limit of the request path applies before escaping.
constexpr std::size_t kEscapedRequestPathMaxChars = 3 * 359;

// `path` with every CR, LF, space and other control byte (0x00-0x1F, 0x7F) written as
// "%XX", so that no such byte reaches the request line raw; other bytes are unchanged.
// False, with `encoded` empty, when the result would be longer than `max_chars`
// characters: a path cut short would lose the end of its query.
bool EncodeRequestPath(std::string_view path, std::size_t max_chars, std::string& encoded);
bool EncodeRequestPath(std::u16string_view path, std::size_t max_chars,
                       std::u16string& encoded);

// Authentication scheme bits as the WinHTTP library reports them.
constexpr std::uint32_t kAuthBasic = 0x1;
constexpr std::uint32_t kAuthNtlm = 0x2;
constexpr std::uint32_t kAuthPassport = 0x4;
constexpr std::uint32_t kAuthDigest = 0x8;
constexpr std::uint32_t kAuthNegotiate = 0x10;

// The first scheme present in `supported`, in the order Negotiate, NTLM, Passport,
// Digest, Basic; 0 when none of them is.
std::uint32_t PickAuthScheme(std::uint32_t supported);

// The reply text: the reply's bytes up to its first zero byte, as the zero-terminated
// text the send procedures are handed.
std::string_view ReplyText(std::string_view reply);

// True when the reply text, taken as a whole, is the acceptance "1" (letter case
// aside): "1" and "1" followed by a zero byte are; "1" followed by a line break, or by
// anything else, is not.
bool IsAcceptedReply(std::string_view reply);

// True when the reply text is the refusal "0" (letter case aside), as for "1".
bool IsRefusedReply(std::string_view reply);

// Longest part of a reply text that goes into a log line.
constexpr std::size_t kLoggedReplyChars = 2048;

// The reply text as one log field: a backslash is written "\\", CR "\r", LF "\n", TAB
// "\t" and every other control byte "\xHH", so that a reply can neither end the line nor
// add fields to it. At most kLoggedReplyChars bytes of the text are shown; a longer
// text ends in "\[cut: N bytes]" with N its whole length.
std::string LoggableReply(std::string_view reply);

}  // namespace vemtu
