#include <windows.h>

#include "file_times.h"

namespace vemtu::check {

namespace {

// 100-ns ticks since 1601 as seconds since 1970.
std::int64_t UnixSeconds(LARGE_INTEGER ticks) {
  constexpr std::int64_t kEpochDifference = 11644473600LL;
  return ticks.QuadPart / 10000000LL - kEpochDifference;
}

}  // namespace

FileTimes ReadFileTimes(const std::string& path) {
  FileTimes times;
  // Reading attributes only: no sharing is denied to the agent, and a link is not followed.
  HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return times;
  FILE_BASIC_INFO info{};
  if (GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info)) {
    times.ok = true;
    times.written = UnixSeconds(info.LastWriteTime);
    times.changed = UnixSeconds(info.ChangeTime.QuadPart ? info.ChangeTime : info.LastWriteTime);
  }
  CloseHandle(file);
  return times;
}

}  // namespace vemtu::check
