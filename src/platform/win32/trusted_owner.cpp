#include "platform/win32/trusted_owner.h"

namespace vemtu::platform {

std::vector<BYTE> OwnUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  std::vector<BYTE> sid;
  if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    const BYTE* bytes = static_cast<const BYTE*>(user);
    sid.assign(bytes, bytes + GetLengthSid(user));
  }
  CloseHandle(token);
  return sid;
}

bool IsTrustedSid(PSID sid, const std::vector<BYTE>& own_sid) {
  if (sid == nullptr || !IsValidSid(sid)) return false;
  return IsWellKnownSid(sid, WinLocalSystemSid) ||
         IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
         (!own_sid.empty() && EqualSid(sid, const_cast<BYTE*>(own_sid.data())));
}

}  // namespace vemtu::platform
