// The agent folder on Windows, over the path functions of files.cpp: each step resolves
// its path again (a reparse point is refused there), and nothing is held yet.
#include <windows.h>

#include "platform/agent_folder.h"

namespace vemtu::platform {

struct AgentFolder::State {
  std::string root;
};

AgentFolder::AgentFolder() = default;
AgentFolder::~AgentFolder() = default;
AgentFolder::AgentFolder(AgentFolder&&) noexcept = default;
AgentFolder& AgentFolder::operator=(AgentFolder&&) noexcept = default;

AgentFolder AgentFolder::Open(const std::string& root) {
  AgentFolder folder;
  if (!IsFolder(root)) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return folder;
  }
  folder.state_ = std::make_unique<State>();
  folder.state_->root = root;
  return folder;
}

bool AgentFolder::IsOpen() const { return state_ != nullptr; }

bool AgentFolder::HoldFolder(const std::string& path) {
  platform::CreateFolder(path);
  return IsFolder(path);
}

bool AgentFolder::SetAttributesNormal(const std::string& path) const {
  return platform::SetAttributesNormal(path);
}

bool AgentFolder::CreateFolder(const std::string& path) const {
  return platform::CreateFolder(path);
}

MoveOutcome AgentFolder::MoveNoReplace(const std::string& from, const std::string& to) const {
  return platform::MoveNoReplace(from, to);
}

bool AgentFolder::DeleteFileAt(const std::string& path) const {
  return platform::DeleteFileAt(path);
}

FileIdentity AgentFolder::IdentityAt(const std::string& path) const {
  return platform::IdentityAt(path);
}

bool AgentFolder::DeleteIfUnchanged(const std::string& path,
                                    const FileIdentity& expected) const {
  return platform::DeleteIfUnchanged(path, expected);
}

File AgentFolder::Open(const std::string& path, OpenMode mode) const {
  if (mode != OpenMode::kReadExisting) return File::Open(path, mode);
  // A file read for its post may still be renamed or deleted by the run itself (its
  // delete after the acceptance, its retry name); writers stay refused.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return File();
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    CloseHandle(handle);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return File();
  }
  return File(reinterpret_cast<std::intptr_t>(handle),
              static_cast<long long>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                     info.nFileSizeLow));
}

SearchStep AgentFolder::First(DirSearch& search, const std::string& folder_and_pattern,
                              DirEntry& entry) const {
  return search.First(folder_and_pattern, entry);
}

bool AgentFolder::CanDelete(const std::string& path, const File&) const {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_READONLY) &&
      !SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  return true;
}

const AgentFolder& FolderOrUnrooted(const std::shared_ptr<AgentFolder>& folder) {
  static const AgentFolder unrooted;
  return folder ? *folder : unrooted;
}

bool HeldByWriter(int error_number) {
  return error_number == ERROR_SHARING_VIOLATION || error_number == ERROR_LOCK_VIOLATION;
}

File::WriterHold File::HoldOffWriters() { return WriterHold::kHeld; }

bool File::WriterWaiting() const { return false; }

}  // namespace vemtu::platform
