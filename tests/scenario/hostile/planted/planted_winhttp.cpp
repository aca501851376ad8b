// A library planted in the agent folder under the name of a system one: loaded, it
// leaves a mark beside itself. It exports the one entry the agent imports at load time
// and the platform check, so that a load of it by name would not fail before the mark.
#include <windows.h>

extern "C" __declspec(dllexport) BOOL WINAPI WinHttpSetOption(void*, DWORD, void*, DWORD) {
  return FALSE;
}

extern "C" __declspec(dllexport) BOOL WINAPI WinHttpCheckPlatform() { return TRUE; }

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 16];
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return TRUE;
  lstrcpyA(path + n, ".loaded");
  HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}
