// Whether a key file or its folder can be trusted: the key deciphers the proxy password,
// so neither may belong to, or be changeable by, anyone but the system's administration
// and the user running this program.
#pragma once

#include <windows.h>

#include <string>

namespace vemtu::cipher {

// The folder's security for the key: SYSTEM and Administrators only, nothing inherited.
constexpr wchar_t kKeyFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// True when the object behind `handle` (a file or folder opened with READ_CONTROL) is
// owned by SYSTEM, Administrators or this process's user, and grants no right to change
// it, its contents or its rights to anyone else.
bool IsTrustedObject(HANDLE handle);

// Opens `folder` without following a reparse point and checks it as above; false for a
// link or junction.
bool IsTrustedFolder(const std::wstring& folder);

}  // namespace vemtu::cipher
