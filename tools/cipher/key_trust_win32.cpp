#include "key_trust_win32.h"

#include <aclapi.h>

#include <memory>
#include <vector>

#include "platform/win32/trusted_owner.h"

namespace vemtu::cipher {

namespace {

using platform::IsTrustedSid;

// Every right that changes an object, adds to a folder, or changes who may do so.
constexpr ACCESS_MASK kChangingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                        FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE |
                                        WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

struct LocalFreeDeleter {
  void operator()(void* memory) const { LocalFree(memory); }
};

}  // namespace

bool IsTrustedObject(HANDLE handle) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  std::unique_ptr<void, LocalFreeDeleter> held(descriptor);
  const std::vector<BYTE> own = platform::OwnUserSid();
  if (!IsTrustedSid(owner, own)) return false;
  if (dacl == nullptr) return false;  // no DACL: everyone has every right
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) return false;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;  // denials only take away
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;         // for what is made inside
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if ((ace->Mask & kChangingRights) == 0) continue;
    if (!IsTrustedSid(reinterpret_cast<PSID>(&ace->SidStart), own)) return false;
  }
  return true;
}

bool IsTrustedFolder(const std::wstring& folder) {
  HANDLE handle = CreateFileW(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  bool trusted = GetFileInformationByHandle(handle, &info) &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                 (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
                 IsTrustedObject(handle);
  CloseHandle(handle);
  return trusted;
}

}  // namespace vemtu::cipher
