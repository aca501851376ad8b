// Profile texts from arbitrary bytes. Input: a section line, a key line, then the text.
// Finding must not fault; an edit of a plain key must find back what it wrote and leave a
// plain neighbour key as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/fixed_text.h"
#include "platform/profile_text.h"

namespace {

std::string TakeLine(std::string& rest) {
  std::size_t lf = rest.find('\n');
  std::string line = rest.substr(0, lf);
  rest = lf == std::string::npos ? std::string() : rest.substr(lf + 1);
  return line;
}

bool IsPlain(const std::string& name) {
  if (name.empty() || name.size() > 32) return false;
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!plain) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace text = vemtu::platform::profile_text;
  std::string rest(reinterpret_cast<const char*>(data), size);
  std::string section = TakeLine(rest);
  std::string key = TakeLine(rest);
  text::Storage storage;
  std::string decoded = text::Decode(rest, storage);
  text::FindValue(decoded, section, key);

  // Key names ignore case: "OtHer" is the key "Other", so the neighbour is another one.
  const std::string neighbour = vemtu::EqualsIgnoreCase(key, "Other") ? "Another" : "Other";
  auto before = text::FindValue(decoded, section, neighbour);
  std::string edited = text::Edited(decoded, section, key, "written value");
  if (IsPlain(section) && IsPlain(key)) {
    if (text::FindValue(edited, section, key) != std::optional<std::string>("written value"))
      std::abort();
    if (text::FindValue(edited, section, neighbour) != before) std::abort();
  }
  return 0;
}
