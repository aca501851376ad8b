#include "platform/win32/long_path.h"

#include <windows.h>

#include <climits>

namespace vemtu::platform::win32_detail {

std::optional<std::wstring> WideFromAnsi(const std::string& text) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  if (text.empty()) return std::wstring();
  const int length = static_cast<int>(text.size());
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (n <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text.data(), length, &wide[0], n) != n) return std::nullopt;
  return wide;
}

namespace {

constexpr wchar_t kVerbatimPrefix[] = L"\\\\?\\";
constexpr wchar_t kVerbatimUncPrefix[] = L"\\\\?\\UNC\\";

// True when every component of `rest` (the text after the root, components split by
// "\") is one the ANSI functions would pass unchanged.
bool ComponentsNeedNoNormalising(const std::wstring& rest) {
  std::size_t start = 0;
  while (true) {
    std::size_t end = rest.find(L'\\', start);
    if (end == std::wstring::npos) end = rest.size();
    if (end == start) return end == rest.size() && start > 0;  // only a final "\" may be empty
    const wchar_t last = rest[end - 1];
    if (last == L'.' || last == L' ') return false;
    if (rest.find(L':', start) < end) return false;  // a stream name, or a second drive
    if (end == rest.size()) return true;
    start = end + 1;
  }
}

std::optional<std::wstring> Refused() {
  ::SetLastError(ERROR_INVALID_NAME);
  return std::nullopt;
}

// `wide` in the ANSI code page without best fit: a character the code page lacks becomes
// the default character ("?") instead of a look-alike (under 1252, "\" for a fullwidth
// reverse solidus), and `used_default` says so where the code page can tell.
std::optional<std::string> ToAnsi(const std::wstring& wide, bool& used_default) {
  used_default = false;
  if (wide.size() > static_cast<std::size_t>(INT_MAX) / 4) return std::nullopt;
  if (wide.empty()) return std::string();
  const int length = static_cast<int>(wide.size());
  // UTF-8 and UTF-7 take neither the flag nor the report (and have no look-alikes).
  const UINT code_page = GetACP();
  const bool unicode = code_page == CP_UTF8 || code_page == CP_UTF7;
  const DWORD flags = unicode ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  BOOL* report = unicode ? nullptr : &defaulted;
  int n = WideCharToMultiByte(CP_ACP, flags, wide.data(), length, nullptr, 0, nullptr, report);
  if (n <= 0) return std::nullopt;
  std::string ansi(static_cast<std::size_t>(n), '\0');
  if (WideCharToMultiByte(CP_ACP, flags, wide.data(), length, &ansi[0], n, nullptr, report) != n) {
    return std::nullopt;
  }
  used_default = defaulted != FALSE;
  return ansi;
}

// A path given in another form than a full one (a tool's argument: relative, or rooted
// without a drive, "/" allowed) made full by the system's own rules, as the ANSI
// functions would read it.
std::optional<std::wstring> FullPathOf(const std::wstring& text) {
  const DWORD needed = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return Refused();
  std::wstring full(needed, L'\0');
  const DWORD n = GetFullPathNameW(text.c_str(), needed, &full[0], nullptr);
  if (n == 0 || n >= needed) return Refused();
  full.resize(n);
  if (full.compare(0, 4, kVerbatimPrefix) == 0 || full.compare(0, 4, L"\\\\.\\") == 0) {
    return Refused();  // a device name ("NUL", "COM1") or another special form
  }
  if (full.compare(0, 2, L"\\\\") == 0) return kVerbatimUncPrefix + full.substr(2);
  return kVerbatimPrefix + full;
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

std::optional<std::wstring> LongPath(const std::string& path) {
  std::optional<std::wstring> wide = WideFromAnsi(path);
  if (!wide || wide->empty()) return Refused();
  const std::wstring& text = *wide;
  if (text.compare(0, 4, kVerbatimPrefix) == 0) return wide;

  if (text.size() >= 3 && IsDriveLetter(text[0]) && text[1] == L':' && text[2] == L'\\') {
    if (text.find(L'/') != std::wstring::npos) return Refused();
    if (text.size() > 3 && !ComponentsNeedNoNormalising(text.substr(3))) return Refused();
    return kVerbatimPrefix + text;
  }
  if (text.compare(0, 2, L"\\\\") == 0) {
    // "\\server\share\..."; "\\.\" and "\\?\" device forms are not file paths here.
    const std::wstring rest = text.substr(2);
    if (rest.find(L'/') != std::wstring::npos) return Refused();
    if (rest.compare(0, 2, L".\\") == 0 || rest.compare(0, 2, L"?\\") == 0) return Refused();
    const std::size_t share = rest.find(L'\\');
    if (share == std::wstring::npos || share + 1 >= rest.size()) return Refused();
    if (!ComponentsNeedNoNormalising(rest)) return Refused();
    return kVerbatimUncPrefix + rest;
  }
  return FullPathOf(text);
}

std::optional<std::string> UsableAnsiName(const std::wstring& name) {
  if (name.empty()) return std::nullopt;
  if (name.find_first_of(L"\\/:") != std::wstring::npos) return std::nullopt;
  if ((name.back() == L'.' || name.back() == L' ') && name != L"." && name != L"..") {
    return std::nullopt;
  }
  return ExactAnsi(name);
}

std::optional<std::string> ExactAnsi(const std::wstring& wide) {
  bool used_default = false;
  std::optional<std::string> ansi = ToAnsi(wide, used_default);
  if (!ansi || used_default) return std::nullopt;
  // The text must come back as itself, or it would name (or say) something else.
  std::optional<std::wstring> back = WideFromAnsi(*ansi);
  if (!back || *back != wide) return std::nullopt;
  return ansi;
}

std::string DisplayAnsiName(const std::wstring& name) {
  bool used_default = false;
  return ToAnsi(name, used_default).value_or(std::string());
}

}  // namespace vemtu::platform::win32_detail
