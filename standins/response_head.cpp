#include "response_head.h"

#include <curl/curl.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "winhttp.h"

namespace vemtu::inet {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

namespace {

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> Lines(const std::string& head) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < head.size()) {
    std::size_t end = head.find("\r\n", at);
    if (end == std::string::npos) end = head.size();
    lines.push_back(head.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

std::string Trim(const std::string& text) {
  std::size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

}  // namespace

std::string StatusText(const std::string& head) {
  std::string line = head.substr(0, head.find("\r\n"));
  std::size_t first = line.find(' ');
  if (first == std::string::npos) return "";
  std::size_t second = line.find(' ', first + 1);
  return second == std::string::npos ? "" : line.substr(second + 1);
}

std::string HeaderValue(const std::string& head, const std::string& name, bool* found) {
  std::string value;
  *found = false;
  std::vector<std::string> lines = Lines(head);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::size_t colon = lines[i].find(':');
    if (colon == std::string::npos || !EqualsNoCase(Trim(lines[i].substr(0, colon)), name)) {
      continue;
    }
    if (*found) value += ", ";
    value += Trim(lines[i].substr(colon + 1));
    *found = true;
  }
  return value;
}

std::uint32_t OfferedSchemes(const std::string& head, const std::string& name,
                             std::uint32_t* first) {
  static const struct {
    const char* token;
    std::uint32_t scheme;
  } kSchemes[] = {
      {"Basic", WINHTTP_AUTH_SCHEME_BASIC},   {"NTLM", WINHTTP_AUTH_SCHEME_NTLM},
      {"Passport1.4", WINHTTP_AUTH_SCHEME_PASSPORT}, {"Digest", WINHTTP_AUTH_SCHEME_DIGEST},
      {"Negotiate", WINHTTP_AUTH_SCHEME_NEGOTIATE},
  };
  std::uint32_t offered = 0;
  *first = 0;
  std::vector<std::string> lines = Lines(head);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::size_t colon = lines[i].find(':');
    if (colon == std::string::npos || !EqualsNoCase(Trim(lines[i].substr(0, colon)), name)) {
      continue;
    }
    std::string value = Trim(lines[i].substr(colon + 1));
    std::string token = value.substr(0, value.find_first_of(" \t,"));
    for (const auto& row : kSchemes) {
      if (EqualsNoCase(token, row.token)) {
        if (offered == 0) *first = row.scheme;
        offered |= row.scheme;
      }
    }
  }
  return offered;
}

std::uint32_t PreferredScheme(std::uint32_t offered) {
  for (std::uint32_t scheme : {WINHTTP_AUTH_SCHEME_NEGOTIATE, WINHTTP_AUTH_SCHEME_NTLM,
                               WINHTTP_AUTH_SCHEME_DIGEST, WINHTTP_AUTH_SCHEME_BASIC}) {
    if (offered & scheme) return scheme;
  }
  return 0;
}

unsigned long CurlScheme(std::uint32_t scheme) {
  switch (scheme) {
    case WINHTTP_AUTH_SCHEME_BASIC: return CURLAUTH_BASIC;
    case WINHTTP_AUTH_SCHEME_NTLM: return CURLAUTH_NTLM;
    case WINHTTP_AUTH_SCHEME_DIGEST: return CURLAUTH_DIGEST;
    case WINHTTP_AUTH_SCHEME_NEGOTIATE: return CURLAUTH_NEGOTIATE;
    default: return 0;
  }
}

unsigned long CurlSchemeWithUser(std::uint32_t scheme, std::uint32_t offered) {
  if (scheme == WINHTTP_AUTH_SCHEME_NEGOTIATE && (offered & WINHTTP_AUTH_SCHEME_NTLM)) {
    return CURLAUTH_NTLM;
  }
  return CurlScheme(scheme);
}

std::vector<std::string> HeaderLines(const std::string& block) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < block.size()) {
    std::size_t end = block.find_first_of("\r\n", at);
    if (end == std::string::npos) end = block.size();
    if (end > at) lines.push_back(block.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

std::string UrlHost(const std::string& host) {
  if (host.find(':') != std::string::npos && host.front() != '[') return "[" + host + "]";
  return host;
}

bool ValidObjectName(const std::string& object) {
  for (unsigned char c : object) {
    if (c <= 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace vemtu::inet
