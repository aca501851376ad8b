#include "folder_rights.h"

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <vector>

#include "held_folder.h"

namespace vemtu::rights {

namespace {

// Rights in the system's own notation: SY SYSTEM, BA Administrators, BU Users, CO the
// creator of a file; FA full, 0x1200a9 read and execute, 0x1301bf modify, 0x100002 create
// files; OI/CI inherited by files/folders, IO only inherited, NP not passed further down.
constexpr wchar_t kAdministration[] = L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kUsersReadAndRun[] = L"(A;OICI;0x1200a9;;;BU)";
constexpr wchar_t kCreatorModifiesItsFiles[] = L"(A;OIIONP;0x1301bf;;;CO)";

// The folders and what each one gets, below the agent folder.
enum class Rights {
  kAgent,     // administration full, Users read and run
  kPrivate,   // administration only: logs (they copy every posted file) and configuration
  kDropBox,   // administration full; writers may add files, and each file's creator may
              // read and change it, but no one else may list or read the folder
};

struct FolderRights {
  const wchar_t* folder;
  Rights rights;
};

constexpr FolderRights kFolders[] = {
    {L"", Rights::kAgent},
    {L"ApplicationLog", Rights::kPrivate},
    {L"Configuration", Rights::kPrivate},
    {L"AlertTkt", Rights::kDropBox},
    {L"Status", Rights::kDropBox},
    {L"ATPostLogs", Rights::kDropBox},
    {L"AlertTkt\\Error", Rights::kPrivate},
    {L"Status\\Error", Rights::kPrivate},
    {L"ATPostLogs\\Error", Rights::kPrivate},
};

std::wstring Sddl(Rights rights, const std::wstring& writers_sid) {
  std::wstring sddl = std::wstring(L"D:P") + kAdministration;
  if (rights == Rights::kAgent) sddl += kUsersReadAndRun;
  if (rights == Rights::kDropBox) {
    sddl += L"(A;;0x100002;;;" + writers_sid + L")";
    sddl += kCreatorModifiesItsFiles;
  }
  return sddl;
}

// The SID of `writers` as text: "*S-..." as given, a name looked up.
bool WritersSid(const std::wstring& writers, std::wstring& sid_text) {
  if (writers.size() > 1 && writers[0] == L'*') {
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(writers.c_str() + 1, &sid)) return false;
    LocalFree(sid);
    sid_text = writers.substr(1);
    return true;
  }
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof sid;
  wchar_t domain[256];
  DWORD domain_size = 256;
  SID_NAME_USE use;
  if (!LookupAccountNameW(nullptr, writers.c_str(), sid, &sid_size, domain, &domain_size, &use)) {
    return false;
  }
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return false;
  sid_text = text;
  LocalFree(text);
  return true;
}

std::wstring Join(const std::wstring& base, const wchar_t* child) {
  std::wstring path = base;
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'.')) path.pop_back();
  if (*child) path += std::wstring(L"\\") + child;
  return path;
}

// Holds `path` (made when missing) and sets its owner and rights; false, said on the
// error stream, when it is refused or cannot be set.
bool ApplyTo(const std::wstring& path, const std::wstring& sddl, std::vector<HeldFolder>& held,
             std::wstring& report) {
  held.push_back(HeldFolder::MakeAndHold(path));
  const HeldFolder& folder = held.back();
  if (folder.refusal() != FolderRefusal::kNone) {
    const char* why = Describe(folder.refusal());
    std::wstring line = L"vemtu-rights: " + path + L" " + std::wstring(why, why + std::strlen(why));
    if (folder.refusal() == FolderRefusal::kForeignOwner) line += L" (owner " + folder.owner() + L")";
    if (folder.refusal() == FolderRefusal::kMissing)
      line += L" (error " + std::to_wstring(folder.error()) + L")";
    report += line + L"\n";
    return false;
  }
  if (DWORD error = folder.SetOwnerAndAccess(sddl)) {
    report += L"vemtu-rights: " + path + L": error " + std::to_wstring(error) + L"\n";
    return false;
  }
  return true;
}

// The folders above `folder` must be no links: what is made below them must be where the
// path says.
bool AncestorsArePlain(const std::wstring& folder, HeldAncestors& ancestors,
                       std::wstring& report) {
  std::wstring refused;
  if (ancestors.Hold(folder, refused)) return true;
  report += L"vemtu-rights: " + refused + L" is a link or cannot be opened: refused\n";
  return false;
}

// Keeps the group in the registry, where the installer's next upgrade reads it back
// instead of its default; it also shows that the rights were set.
void RememberWriters(const std::wstring& writers) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Vemtu", 0, nullptr, 0,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExW(key, L"WritersGroup", 0, REG_SZ, reinterpret_cast<const BYTE*>(writers.c_str()),
                 static_cast<DWORD>((writers.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
}

}  // namespace

int ApplyFolderRights(const std::wstring& agent, const std::wstring& writers,
                      const std::wstring& key_folder, std::wstring& report) {
  std::wstring writers_sid;
  if (!WritersSid(writers, writers_sid)) {
    report += L"vemtu-rights: no such group: " + writers + L"\n";
    return 1;
  }
  // Every folder stays held until the end, so none of them can be exchanged for a link
  // between its check and the folders made inside it. The first refusal ends the work:
  // nothing is made inside a refused folder, and the exit code fails the install.
  HeldAncestors ancestors;
  std::vector<HeldFolder> held;
  if (!AncestorsArePlain(Join(agent, L""), ancestors, report)) return 1;
  for (const FolderRights& entry : kFolders) {
    if (!ApplyTo(Join(agent, entry.folder), Sddl(entry.rights, writers_sid), held, report)) {
      return 1;
    }
  }
  int status = 0;
  if (!key_folder.empty()) {
    const std::wstring path = Join(key_folder, L"");
    if (!AncestorsArePlain(path, ancestors, report) ||
        !ApplyTo(path, Sddl(Rights::kPrivate, writers_sid), held, report)) {
      status = 1;
    }
  }
  if (status == 0) RememberWriters(writers);
  return status;
}


}  // namespace vemtu::rights
