// Who may own, or change, an object the agent relies on: the system (SYSTEM), its
// administration (Administrators) and the user this process runs as. Shared by the named
// mutexes and the cipher key store.
#pragma once

#include <windows.h>

#include <vector>

namespace vemtu::platform {

// A copy of the SID of the user this process runs as; empty when the token is unreadable.
std::vector<BYTE> OwnUserSid();

// True for SYSTEM, Administrators and `own_sid`.
bool IsTrustedSid(PSID sid, const std::vector<BYTE>& own_sid);

}  // namespace vemtu::platform
