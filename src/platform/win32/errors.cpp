// Error numbers and message-table texts.
#include "platform/errors.h"

#include <windows.h>

namespace vemtu::platform {

namespace {

constexpr DWORD kLookupFlags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS;

// The text of `code` from the system table (module == nullptr) or a module's table;
// false when that table has none.
bool LookUp(HMODULE module, DWORD code, std::string& text) {
  char* allocated = nullptr;
  DWORD flags = kLookupFlags | (module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM);
  DWORD n = FormatMessageA(flags, module, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<LPSTR>(&allocated), 0, nullptr);
  if (n == 0 || allocated == nullptr) {
    if (allocated != nullptr) LocalFree(allocated);
    return false;
  }
  text.assign(allocated, n);
  LocalFree(allocated);
  return true;
}

// Message-table texts end with CR LF: the text is cut at its last LF, then at its last CR.
void CutLineBreak(std::string& text) {
  std::string::size_type at = text.rfind('\n');
  if (at != std::string::npos) text.erase(at);
  at = text.rfind('\r');
  if (at != std::string::npos) text.erase(at);
}

}  // namespace

int LastError() { return static_cast<int>(GetLastError()); }

void SetLastError(int code) { ::SetLastError(static_cast<DWORD>(code)); }

std::string ErrorText(int code) {
  // Looking a text up must not change the error number the caller is reporting.
  DWORD saved = GetLastError();
  DWORD number = static_cast<DWORD>(code);
  std::string text;
  bool found = LookUp(nullptr, number, text);
  for (const char* module_name : {"WinHTTP.dll", "WinInet.dll"}) {
    if (found) break;
    HMODULE module = GetModuleHandleA(module_name);
    if (module != nullptr) found = LookUp(module, number, text);
  }
  if (found) CutLineBreak(text);
  ::SetLastError(saved);
  return text;
}

}  // namespace vemtu::platform
