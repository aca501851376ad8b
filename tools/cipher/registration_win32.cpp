#include <windows.h>

#include <string>

#include "registration.h"

namespace vemtu::cipher {

bool RegisterComponent(bool add, const std::string& registry, std::string& where) {
  if (!registry.empty()) {
    where = "on Windows the component goes into the system registry: give no REGISTRY";
    return false;
  }
  wchar_t self[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, self, static_cast<DWORD>(sizeof self / sizeof self[0]));
  if (n == 0 || n >= sizeof self / sizeof self[0]) return false;
  std::wstring path(self, n);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"xmlcipher.dll";
  where = "xmlcipher.dll beside the command";
  HMODULE server = LoadLibraryW(path.c_str());
  if (!server) return false;
  using Entry = HRESULT(STDAPICALLTYPE*)();
  auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(
      GetProcAddress(server, add ? "DllRegisterServer" : "DllUnregisterServer")));
  bool done = entry && SUCCEEDED(entry());
  FreeLibrary(server);
  return done;
}

}  // namespace vemtu::cipher
