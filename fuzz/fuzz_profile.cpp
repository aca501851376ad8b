// Profile files from arbitrary bytes. Input: a section line, a key line, then the file.
// Reads must not fault; a write of a plain key must read back as written and leave a
// plain neighbour key as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/fixed_text.h"
#include "platform/process.h"
#include "platform/profile.h"

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
  using namespace vemtu::platform;
  static const std::string path =
      (std::filesystem::temp_directory_path() /
       ("vemtu-fuzz-profile-" + std::to_string(CurrentProcessId()) + ".ini"))
          .string();
  std::string rest(reinterpret_cast<const char*>(data), size);
  std::string section = TakeLine(rest);
  std::string key = TakeLine(rest);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(rest.data(), static_cast<std::streamsize>(rest.size()));
  }
  std::size_t cap = section.size() % 17;
  std::string value = GetProfileText(path, section, key, "default", cap);
  if (value.size() > cap) std::abort();
  GetProfileInt(path, section, key, -1);

  // Key names ignore case: "OtHer" is the key "Other", so the neighbour is another one.
  const std::string neighbour = vemtu::EqualsIgnoreCase(key, "Other") ? "Another" : "Other";
  std::string before = GetProfileText(path, section, neighbour, "none", 1 << 20);
  if (!WriteProfileText(path, section, key, "written value")) return 0;
  if (IsPlain(section) && IsPlain(key)) {
    if (GetProfileText(path, section, key, "", 100) != "written value") std::abort();
    if (GetProfileText(path, section, neighbour, "none", 1 << 20) != before) std::abort();
  }
  return 0;
}
