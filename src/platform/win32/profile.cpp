// INI files through the private-profile functions of kernel32, which apply the rules
// the callers rely on (case-insensitive names, first duplicate wins, quotes dropped).
#include "platform/profile.h"

#include <windows.h>

#include <vector>

#include "platform/win32/reparse.h"

// winbase.h maps GetProfileInt to the win.ini function of that name.
#undef GetProfileInt

namespace vemtu::platform {

namespace {

// The profile functions count in 32-bit units; no INI value comes near this.
constexpr std::size_t kMaxValueChars = 0xFFFFF;

// True when `file` is missing or a plain disk file; false for a reparse point, a folder,
// a pipe or a device, which the profile functions would read through or wait on.
bool MissingOrPlainFile(const std::string& file) {
  HANDLE handle = CreateFileA(file.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  bool plain = GetFileType(handle) == FILE_TYPE_DISK &&
               GetFileInformationByHandle(handle, &info) &&
               !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
  CloseHandle(handle);
  return plain;
}

}  // namespace

std::string GetProfileText(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& default_value,
                           std::size_t max_chars) {
  if (!MissingOrPlainFile(file)) return std::string(default_value.substr(0, max_chars));
  if (max_chars > kMaxValueChars) max_chars = kMaxValueChars;
  std::vector<char> buffer(max_chars + 1, '\0');
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), default_value.c_str(),
                                     buffer.data(), static_cast<DWORD>(buffer.size()),
                                     file.c_str());
  if (n > max_chars) n = static_cast<DWORD>(max_chars);
  return std::string(buffer.data(), n);
}

int GetProfileInt(const std::string& file, const std::string& section,
                  const std::string& key, int default_value) {
  if (!MissingOrPlainFile(file)) return default_value;
  return static_cast<int>(
      GetPrivateProfileIntA(section.c_str(), key.c_str(), default_value, file.c_str()));
}

bool WriteProfileText(const std::string& file, const std::string& section,
                      const std::string& key, const std::string& value) {
  if (!win32_detail::FolderIsPlain(file)) return false;
  if (!MissingOrPlainFile(file)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                    file.c_str()) != 0;
}

}  // namespace vemtu::platform
