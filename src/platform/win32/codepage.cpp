// Code-page conversion on Windows: MultiByteToWideChar and WideCharToMultiByte, with
// UTF-16 little-endian (1200) taken as the wide form itself.
#include "platform/codepage.h"

#include <windows.h>

#include <climits>
#include <cstring>

#include "platform/character_scan.h"

namespace vemtu::platform {
namespace {

// Code pages that some systems only offer through another number with the same bytes.
unsigned UsableCodePage(unsigned code_page) {
  if (code_page == kCodePageUtf16Le || IsValidCodePage(code_page)) return code_page;
  switch (code_page) {
    case 51932: return IsValidCodePage(20932) ? 20932 : 0;  // EUC-JP
    case 51936: return IsValidCodePage(936) ? 936 : 0;      // EUC-CN within GBK
    case 51949: return IsValidCodePage(949) ? 949 : 0;      // EUC-KR within UHC
    case 38598: return IsValidCodePage(28598) ? 28598 : 0;  // Hebrew, logical order
    default: return 0;
  }
}

bool ToWide(unsigned code_page, std::string_view input, std::wstring& wide) {
  if (code_page == kCodePageUtf16Le) {
    wide.resize(input.size() / 2);
    if (!wide.empty()) std::memcpy(&wide[0], input.data(), wide.size() * 2);
    return true;
  }
  if (input.empty()) return true;
  int n = MultiByteToWideChar(code_page, 0, input.data(), static_cast<int>(input.size()),
                              nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(code_page, 0, input.data(), static_cast<int>(input.size()),
                             &wide[0], n) == n;
}

bool FromWide(unsigned code_page, const std::wstring& wide, std::string& output) {
  if (code_page == kCodePageUtf16Le) {
    output.resize(wide.size() * 2);
    if (!wide.empty()) std::memcpy(&output[0], wide.data(), output.size());
    return true;
  }
  if (wide.empty()) return true;
  int n = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                              nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  output.resize(static_cast<std::size_t>(n));
  return WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                             &output[0], n, nullptr, nullptr) == n;
}

}  // namespace

unsigned SystemCodePage() { return GetACP(); }

namespace {

auto LeadByteTest(unsigned code_page) {
  return [code_page](unsigned char byte) { return IsDBCSLeadByteEx(code_page, byte) != FALSE; };
}

}  // namespace

std::size_t FindCharacter(std::string_view text, char wanted, Occurrence which,
                          unsigned code_page) {
  return ScanForCharacter(text, wanted, which, LeadByteTest(code_page));
}

std::size_t LastCharacterStart(std::string_view text, unsigned code_page) {
  return FindLastCharacterStart(text, code_page, LeadByteTest(code_page));
}

bool ConvertCodePage(unsigned from, unsigned to, std::string_view input, std::string& output) {
  output.clear();
  unsigned source = UsableCodePage(from);
  unsigned target = UsableCodePage(to);
  if (!source || !target) return false;
  if (input.size() > static_cast<std::size_t>(INT_MAX) / 2) return false;
  if (source == target) {
    output.assign(input);
    return true;
  }
  std::wstring wide;
  if (!ToWide(source, input, wide) || !FromWide(target, wide, output)) {
    output.clear();
    return false;
  }
  return true;
}

}  // namespace vemtu::platform
