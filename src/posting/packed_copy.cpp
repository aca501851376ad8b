#include "posting/packed_copy.h"

#include <string>
#include <string_view>

namespace vemtu {

namespace {

// How much of each end of the file is read: the root's opening tag, the start of the
// payload, and the payload's end with the closing tag.
constexpr std::size_t kHeadBytes = 4096;
constexpr std::size_t kTailBytes = 512;

constexpr std::string_view kCdataOpen = "<![CDATA[";
constexpr std::string_view kCdataClose = "]]></";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The packed payload's alphabet: base64 in lines ended by CR LF.
bool IsPayloadText(std::string_view text) {
  for (char c : text) {
    const bool base64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
    if (!base64 && c != '\r' && c != '\n') return false;
  }
  return true;
}

// `payload` without the "]" or "]]" of a "]]>" cut short after them.
std::string_view WithoutCutCdataEnd(std::string_view payload) {
  for (int i = 0; i < 2 && !payload.empty() && payload.back() == ']'; ++i) payload.remove_suffix(1);
  return payload;
}

std::string ReadPart(const platform::File& file, std::uint64_t offset, std::size_t size) {
  std::string part(size, '\0');
  long long got = file.ReadAt(part.data(), size, offset);
  part.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return part;
}

// The root element's name when `head` opens a document whose root's content starts as
// a packed payload; empty otherwise.
std::string RootHoldingPayload(std::string_view head) {
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head.remove_prefix(3);
  std::size_t at = 0;
  // The declaration, comments and other prolog items before the root.
  for (;;) {
    while (at < head.size() && IsSpace(head[at])) ++at;
    if (at + 1 >= head.size() || head[at] != '<') return {};
    if (head[at + 1] != '?' && head[at + 1] != '!') break;
    std::size_t end = head.find('>', at);
    if (end == std::string_view::npos) return {};
    at = end + 1;
  }
  const std::size_t name_start = at + 1;
  std::size_t name_end = name_start;
  while (name_end < head.size() && !IsSpace(head[name_end]) && head[name_end] != '>' &&
         head[name_end] != '/') {
    ++name_end;
  }
  const std::size_t tag_end = head.find('>', name_end);
  if (name_end == name_start || tag_end == std::string_view::npos || head[tag_end - 1] == '/') {
    return {};
  }
  std::string_view content = head.substr(tag_end + 1);
  if (content.substr(0, kCdataOpen.size()) != kCdataOpen) return {};
  content.remove_prefix(kCdataOpen.size());
  const std::size_t close = content.find("]]>");
  // Without "]]>" the head ends inside the payload, or a copy cut short ends in it.
  if (!IsPayloadText(close == std::string_view::npos ? WithoutCutCdataEnd(content)
                                                     : content.substr(0, close))) {
    return {};
  }
  return std::string(head.substr(name_start, name_end - name_start));
}

}  // namespace

bool IsPackedCopy(const platform::File& file) {
  const long long size = file.SizeAtOpen();
  if (size <= 0) return false;
  const std::string root = RootHoldingPayload(ReadPart(file, 0, kHeadBytes));
  if (root.empty()) return false;
  const auto whole = static_cast<std::uint64_t>(size);
  const std::uint64_t tail_at = whole > kTailBytes ? whole - kTailBytes : 0;
  const std::string tail_bytes = ReadPart(file, tail_at, kTailBytes);
  std::string_view tail = tail_bytes;
  while (!tail.empty() && IsSpace(tail.back())) tail.remove_suffix(1);
  // The payload ends at "]]>", followed by the root's closing tag; a copy cut short (its
  // run ended while writing it) ends inside its payload or that tag. In a short file the
  // tail begins before the payload, which the head has shown already.
  const std::string closing = std::string(kCdataClose) + root + ">";
  const std::size_t end = tail.rfind("]]>");
  const std::string_view after = end == std::string_view::npos ? std::string_view() : tail.substr(end);
  if (!after.empty() && closing.compare(0, after.size(), after) != 0) return false;
  if (whole <= kHeadBytes) return true;
  std::string_view payload = tail.substr(0, end == std::string_view::npos ? tail.size() : end);
  if (end == std::string_view::npos) payload = WithoutCutCdataEnd(payload);
  const std::size_t open = payload.rfind(kCdataOpen);
  return IsPayloadText(open == std::string_view::npos ? payload
                                                      : payload.substr(open + kCdataOpen.size()));
}

}  // namespace vemtu
