// Reading a reply head: "HTTP/1.1 407 Proxy Authentication Required\r\nName: value\r\n...".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vemtu::inet {

// Whether `text` begins with `prefix`.
bool StartsWith(const std::string& text, const char* prefix);

// The reason phrase of the status line.
std::string StatusText(const std::string& head);
// The values of every header called `name` (case-insensitive), joined by ", ";
// `found` tells whether there was one.
std::string HeaderValue(const std::string& head, const std::string& name, bool* found);

// The authentication schemes offered by the `name` headers (WWW-Authenticate or
// Proxy-Authenticate) as WINHTTP_AUTH_SCHEME_* bits; `first` gets the first one offered.
std::uint32_t OfferedSchemes(const std::string& head, const std::string& name,
                             std::uint32_t* first);
// The scheme both system libraries answer a challenge with: the first of Negotiate, NTLM,
// Digest and Basic that `offered` holds (WINHTTP_AUTH_SCHEME_* bits); 0 when none.
std::uint32_t PreferredScheme(std::uint32_t offered);
// A WINHTTP_AUTH_SCHEME_* bit as a CURLAUTH_* mask; 0 for schemes curl does not speak.
unsigned long CurlScheme(std::uint32_t scheme);
// CurlScheme for credentials with a user name answering a challenge that offered
// `offered`: curl's Negotiate takes only a Kerberos ticket, never a given password, so
// there Negotiate goes out as NTLM when NTLM is offered, as the system's Negotiate
// package falls back to NTLM without a ticket.
unsigned long CurlSchemeWithUser(std::uint32_t scheme, std::uint32_t offered);

// "Name: value" lines from a caller's block of extra headers (CR, LF or CRLF between).
std::vector<std::string> HeaderLines(const std::string& block);

// "host" for a URL: an IPv6 literal goes in brackets.
std::string UrlHost(const std::string& host);
// Whether an object name can go into a request line as it is: no space, no control
// bytes (those have to be percent-encoded by the caller).
bool ValidObjectName(const std::string& object);

}  // namespace vemtu::inet
