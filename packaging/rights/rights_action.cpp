// The installer's entry into the rights tool: a custom action the package runs from its
// own Binary table (deferred, as SYSTEM). Its data is "AGENT|WRITERS|KEY_FOLDER", set by
// the installer from INSTALLDIR, WRITERSGROUP and KEYFOLDER; each problem goes to the
// installer's log, and a failure fails the install.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "folder_rights.h"

namespace {

std::wstring ActionData(MSIHANDLE install) {
  DWORD size = 0;
  wchar_t empty[1] = L"";
  MsiGetPropertyW(install, L"CustomActionData", empty, &size);
  std::vector<wchar_t> data(size + 1, L'\0');
  size = static_cast<DWORD>(data.size());
  if (MsiGetPropertyW(install, L"CustomActionData", data.data(), &size) != ERROR_SUCCESS) return {};
  return std::wstring(data.data(), size);
}

void LogToInstaller(MSIHANDLE install, const std::wstring& text) {
  MSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, text.c_str());
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall SetFolderRights(MSIHANDLE install) {
  const std::wstring data = ActionData(install);
  const std::size_t first = data.find(L'|');
  const std::size_t second = first == std::wstring::npos ? first : data.find(L'|', first + 1);
  if (second == std::wstring::npos) {
    LogToInstaller(install, L"vemtu-rights: no folder data");
    return ERROR_INSTALL_FAILURE;
  }
  std::wstring report;
  const int status = vemtu::rights::ApplyFolderRights(
      data.substr(0, first), data.substr(first + 1, second - first - 1), data.substr(second + 1),
      report);
  if (!report.empty()) LogToInstaller(install, report);
  return status == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}
