#include "posting/post_names.h"

#include "platform/codepage.h"
#include "platform/paths.h"

namespace vemtu {

namespace {

bool Fits(std::size_t length) { return length <= kPathCapacity - 1; }

// True when the byte at `at` is the second byte of a two-byte character of the code page
// (it then follows a byte past ASCII, and is no character of its own).
bool IsSecondByte(std::string_view text, std::size_t at) {
  if (at == 0 || static_cast<unsigned char>(text[at - 1]) < 0x80) return false;
  const std::string_view through = text.substr(0, at + 1);
  return platform::FindCharacter(through, text[at], platform::Occurrence::kLast) != at;
}

// Appends `prefix` with the bytes that would end the page name or start a query or a
// fragment, the escape character itself, "\\" and every character past ASCII (each of its
// bytes) written as "%XX". The page then names the prefix's bytes as the file has them, in
// any code page: no library converts or cuts them, and the second byte of a two-byte
// character never reaches the request line as a character of its own.
void AppendEscapedPrefix(std::string_view prefix, std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  for (std::size_t at = 0; at < prefix.size(); ++at) {
    const char c = prefix[at];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || c == '%' || c == '?' || c == '#' || c == '\\' || IsSecondByte(prefix, at)) {
      path += '%';
      path += kHex[byte >> 4];
      path += kHex[byte & 0xF];
    } else {
      path += c;
    }
  }
}

std::size_t Find(std::string_view text, char wanted, platform::Occurrence which) {
  return platform::FindCharacter(text, wanted, which);
}

}  // namespace

bool SplitUrl(std::string_view url, UrlParts& parts) {
  parts = UrlParts{};
  url = CutText(url, kPathCapacity - 1);
  std::size_t separator = url.find("://");
  if (separator == std::string_view::npos || separator > kSchemeMaxChars) return false;
  std::string scheme(url.substr(0, separator));
  for (char& c : scheme)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  parts.scheme = scheme;
  std::string_view host_part = url.substr(separator + 3);
  std::size_t slash = host_part.find('/');
  if (slash != std::string_view::npos) parts.base_path = host_part.substr(slash + 1);
  std::size_t colon = host_part.find(':');
  if (colon != std::string_view::npos) {
    parts.host = host_part.substr(0, colon);
    parts.port = static_cast<int>(LeadingDigits(host_part.substr(colon + 1)));
  } else {
    parts.host = host_part.substr(0, slash);
    parts.port = scheme == "HTTP" ? 80 : scheme == "HTTPS" ? 443 : 0;
  }
  return true;
}

std::string_view NamePrefix(std::string_view name) {
  return name.substr(0, Find(name, '_', platform::Occurrence::kFirst));
}

bool BuildRequestPath(const RunContext& ctx, std::string_view base_path, std::string_view prefix,
                      std::string& request_path) {
  std::string path;
  if (!base_path.empty()) {
    path += base_path;
    path += '/';
  }
  path += "tfr_";
  const std::size_t prefix_at = path.size();
  path += prefix;
  path += ".asp?mmid=";
  path += ctx.member_id.view();
  path += "&sid=";
  path += ctx.site_id.view();
  path += "&rid=";
  path += ctx.registration_id.view();
  path += "&rty=";
  path += ctx.agent_type.view();
  if (!Fits(path.size())) return false;
  request_path.assign(path, 0, prefix_at);
  AppendEscapedPrefix(prefix, request_path);
  request_path.append(path, prefix_at + prefix.size(), std::string::npos);
  return true;
}

std::string PackedPath(std::string_view file_path) {
  std::size_t name_start = Find(file_path, platform::kPathSeparator, platform::Occurrence::kLast);
  name_start = name_start == std::string_view::npos ? 0 : name_start + 1;
  std::size_t dot = Find(file_path, '.', platform::Occurrence::kLast);
  std::string packed(file_path.substr(
      0, dot != std::string_view::npos && dot >= name_start ? dot : file_path.size()));
  std::string_view extension = file_path.substr(packed.size());
  if (EqualsIgnoreCase(extension, ".zip")) packed = file_path;
  packed += ".zip";
  return Fits(packed.size()) ? packed : std::string();
}

std::string TransferLogPath(const RunContext& ctx, std::string_view prefix) {
  std::string path =
      ctx.exe_dir.str() + platform::NativePath("\\ApplicationLog\\WebPost\\WebPostExe\\tfr_");
  path += prefix;
  path += ".log";
  return Fits(path.size()) ? path : std::string();
}

std::string DisplayUrl(std::string_view url, std::string_view prefix) {
  std::string display(url);
  display += "/tfr_";
  display += prefix;
  display += ".asp";
  return std::string(CutText(display, kPathCapacity - 1));
}

std::string EnvelopeHead(std::string_view prefix, std::string_view registration_id) {
  std::string head = "<";
  head += prefix;
  head += "><regid>";
  head += registration_id;
  head += "</regid><data><![CDATA[";
  return head;
}

std::string EnvelopeTail(std::string_view prefix) {
  std::string tail = "]]></data></";
  tail += prefix;
  tail += ">";
  return tail;
}

bool IsStatusCategory(std::string_view category) { return EqualsIgnoreCase(category, "Status"); }

}  // namespace vemtu
