#include "held_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include "platform/win32/trusted_owner.h"

namespace vemtu::rights {

using platform::win32_detail::ScopedHandle;

namespace {

constexpr DWORD kShareNoDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kAsItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// A plain folder: no reparse point by its handle, nor by its name (Wine shows a Linux
// link to a folder as a reparse point only in the attributes read by name).
bool IsPlainFolder(HANDLE handle, const std::wstring& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  const DWORD by_name = GetFileAttributesW(path.c_str());
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         by_name != INVALID_FILE_ATTRIBUTES && !(by_name & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring result = text;
  LocalFree(text);
  return result;
}

}  // namespace

const char* Describe(FolderRefusal refusal) {
  switch (refusal) {
    case FolderRefusal::kNone: return "taken";
    case FolderRefusal::kMissing: return "cannot be made or opened";
    case FolderRefusal::kLink: return "is a link or no folder: refused";
    case FolderRefusal::kForeignOwner: return "is owned by another user: refused";
  }
  return "?";
}

HeldFolder HeldFolder::MakeAndHold(const std::wstring& path) {
  HeldFolder folder;
  CreateDirectoryW(path.c_str(), nullptr);  // an existing folder, or a link, stays as it is
  folder.handle_ = ScopedHandle(CreateFileW(
      path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
      kShareNoDelete, nullptr, OPEN_EXISTING, kAsItself, nullptr));
  if (!folder.handle_.IsValid()) {
    folder.error_ = GetLastError();
    return folder;
  }
  if (!IsPlainFolder(folder.handle_.Get(), path)) {
    folder.refusal_ = FolderRefusal::kLink;
    return folder;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  folder.error_ = GetSecurityInfo(folder.handle_.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                  &owner, nullptr, nullptr, nullptr, &descriptor);
  if (folder.error_ != ERROR_SUCCESS) return folder;
  // The tool's own user is SYSTEM when the installer runs it, or an administrator who
  // could change the rights anyway.
  const bool trusted = platform::IsTrustedSid(owner, platform::OwnUserSid());
  if (!trusted) folder.owner_ = owner ? SidText(owner) : L"nobody";
  LocalFree(descriptor);
  folder.refusal_ = trusted ? FolderRefusal::kNone : FolderRefusal::kForeignOwner;
  return folder;
}

DWORD HeldFolder::SetOwnerAndAccess(const std::wstring& sddl) const {
  if (refusal_ != FolderRefusal::kNone) return ERROR_ACCESS_DENIED;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return GetLastError();
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  DWORD error = CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)
                    ? SetSecurityInfo(handle_.Get(), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                          PROTECTED_DACL_SECURITY_INFORMATION,
                                      administrators, nullptr, dacl, nullptr)
                    : GetLastError();
  LocalFree(descriptor);
  return error;
}

bool HeldAncestors::Hold(const std::wstring& path, std::wstring& refused) {
  // Levels end at each "\" after the volume's root ("C:\", or "\\server\share\").
  std::size_t end = path.compare(0, 2, L"\\\\") == 0
                        ? path.find(L'\\', path.find(L'\\', 2) + 1)
                        : path.find(L'\\');
  if (end == std::wstring::npos) return true;
  for (end = path.find(L'\\', end + 1); end != std::wstring::npos;
       end = path.find(L'\\', end + 1)) {
    const std::wstring level = path.substr(0, end);
    ScopedHandle handle(CreateFileW(level.c_str(), FILE_READ_ATTRIBUTES, kShareNoDelete, nullptr,
                                    OPEN_EXISTING, kAsItself, nullptr));
    if (!handle.IsValid() || !IsPlainFolder(handle.Get(), level)) {
      refused = level;
      return false;
    }
    held_.push_back(std::move(handle));
  }
  return true;
}

}  // namespace vemtu::rights
