// vemtu-rights: sets the access rights of an installed agent folder, and shows them.
// The installer runs it as SYSTEM after copying the files; an operator may run it again
// (as administrator) after changing the folder by hand.
//
//   vemtu-rights apply AGENT_FOLDER WRITERS [KEY_FOLDER]
//   vemtu-rights show PATH
//
// WRITERS is the group that drops result files: a name ("DOMAIN\Group") or "*" and a SID
// ("*S-1-5-32-545", the Users group, is the installer's default).
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>
#include <vector>

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
  kDropBox,   // as the agent folder, and writers may add files whose creator may change them
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
  if (rights == Rights::kPrivate) return sddl;
  sddl += kUsersReadAndRun;
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

// Replaces the folder's access list with `sddl`, nothing inherited from above.
DWORD SetFolderRights(const std::wstring& path, const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return GetLastError();
  }
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  DWORD error = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                      DACL_SECURITY_INFORMATION |
                                          PROTECTED_DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, dacl, nullptr);
  LocalFree(descriptor);
  return error;
}

std::wstring Join(const std::wstring& base, const wchar_t* child) {
  std::wstring path = base;
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'.')) path.pop_back();
  if (*child) path += std::wstring(L"\\") + child;
  return path;
}

int Apply(const std::wstring& agent, const std::wstring& writers, const std::wstring& key_folder) {
  std::wstring writers_sid;
  if (!WritersSid(writers, writers_sid)) {
    std::fwprintf(stderr, L"vemtu-rights: no such group: %ls\n", writers.c_str());
    return 1;
  }
  int status = 0;
  for (const FolderRights& entry : kFolders) {
    std::wstring path = Join(agent, entry.folder);
    CreateDirectoryW(path.c_str(), nullptr);
    if (DWORD error = SetFolderRights(path, Sddl(entry.rights, writers_sid))) {
      std::fwprintf(stderr, L"vemtu-rights: %ls: error %lu\n", path.c_str(), error);
      status = 1;
    }
  }
  if (!key_folder.empty()) {
    std::wstring path = Join(key_folder, L"");
    CreateDirectoryW(path.c_str(), nullptr);
    if (DWORD error = SetFolderRights(path, Sddl(Rights::kPrivate, writers_sid))) {
      std::fwprintf(stderr, L"vemtu-rights: %ls: error %lu\n", path.c_str(), error);
      status = 1;
    }
  }
  return status;
}

// Prints the owner and access list of `path` in the system's notation.
int Show(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) {
    std::fwprintf(stderr, L"vemtu-rights: %ls: error %lu\n", path.c_str(), error);
    return 1;
  }
  wchar_t* text = nullptr;
  BOOL ok = ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
      nullptr);
  LocalFree(descriptor);
  if (!ok) return 1;
  std::wprintf(L"%ls\n", text);
  LocalFree(text);
  return 0;
}

const char kUsage[] =
    "usage: vemtu-rights apply AGENT_FOLDER WRITERS [KEY_FOLDER]\n"
    "       vemtu-rights show PATH\n"
    "\n"
    "apply: the agent folder SYSTEM and Administrators full, Users read and run;\n"
    "ApplicationLog, Configuration and each Error folder SYSTEM and Administrators only;\n"
    "AlertTkt, Status and ATPostLogs also let WRITERS add files (on that folder only), and\n"
    "the creator of a file there may change it. KEY_FOLDER gets SYSTEM and Administrators\n"
    "only. WRITERS: a group name, or * and a SID (*S-1-5-32-545 is Users).\n"
    "show: prints the owner and the access list of PATH.\n";

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.size() >= 3 && args.size() <= 4 && args[0] == L"apply") {
    return Apply(args[1], args[2], args.size() == 4 ? args[3] : L"");
  }
  if (args.size() == 2 && args[0] == L"show") return Show(args[1]);
  bool help = args.size() == 1 && (args[0] == L"--help" || args[0] == L"-h");
  std::fputs(kUsage, help ? stdout : stderr);
  return help ? 0 : 2;
}
