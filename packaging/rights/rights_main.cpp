// vemtu-rights: sets the access rights of an installed agent folder, and shows them.
// The installer runs it as SYSTEM from its own tables, before it makes any folder or
// copies any file; an operator may run it again (as administrator) after changing the
// folder by hand. It makes the folders itself, never through a link, and refuses a
// folder that is a link or that another user owns (that user could change its rights
// back); its exit code then fails the install.
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

#include "folder_rights.h"

namespace {

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
    "AlertTkt, Status and ATPostLogs SYSTEM and Administrators full, WRITERS may add files\n"
    "(on that folder only), and the creator of a file there may read and change it; no one\n"
    "else may list or read them. KEY_FOLDER gets SYSTEM and Administrators\n"
    "only. WRITERS: a group name, or * and a SID (*S-1-5-32-545 is Users). Each folder is\n"
    "made when missing and gets Administrators as its owner; a folder that is a link, lies\n"
    "below a link, or is owned by another user than SYSTEM, Administrators or the one\n"
    "running this tool is refused\n"
    "(exit code 1; move it away and run again). On success WRITERS is kept in the\n"
    "registry (HKLM\\Software\\Vemtu, WritersGroup) for the next upgrade.\n"
    "show: prints the owner and the access list of PATH.\n";

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.size() >= 3 && args.size() <= 4 && args[0] == L"apply") {
    std::wstring report;
    const int status =
        vemtu::rights::ApplyFolderRights(args[1], args[2], args.size() == 4 ? args[3] : L"", report);
    std::fputws(report.c_str(), stderr);
    return status;
  }
  if (args.size() == 2 && args[0] == L"show") return Show(args[1]);
  bool help = args.size() == 1 && (args[0] == L"--help" || args[0] == L"-h");
  std::fputs(kUsage, help ? stdout : stderr);
  return help ? 0 : 2;
}
