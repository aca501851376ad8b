// The agent folder on Windows. Every folder from the volume's root down to the agent
// folder, and every folder below it that a step goes through, is opened once without
// following reparse points, checked to be a plain folder, and held for the run without
// delete sharing: none of them can then be renamed, removed or exchanged with a link
// while the run lasts, so a "\\?\" path through them keeps naming the folders checked.
// The last component of each step is opened as itself (files.cpp), links refused by tag.
#include <aclapi.h>
#include <windows.h>

#include <mutex>
#include <optional>
#include <vector>

#include "platform/agent_folder.h"
#include "platform/win32/long_path.h"
#include "platform/win32/reparse.h"
#include "platform/win32/scoped_handle.h"

namespace vemtu::platform {

using win32_detail::HandleKind;
using win32_detail::KindOf;
using win32_detail::LongPath;
using win32_detail::ScopedHandle;

namespace {

// Reading its entries and its security; writers may add files beside the hold, but no
// one may rename or delete the folder while it is held.
constexpr DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                              READ_CONTROL | SYNCHRONIZE;
constexpr DWORD kHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool SameText(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// `path` names a folder inside `folder` (or `folder` itself when `or_same`).
bool IsBelow(const std::wstring& path, const std::wstring& folder, bool or_same = false) {
  if (or_same && SameText(path, folder)) return true;
  const std::size_t n = folder.size() - (folder.back() == L'\\' ? 1 : 0);
  return path.size() > n + 1 && path[n] == L'\\' && SameText(path.substr(0, n), folder.substr(0, n));
}

// Opens the folder `wide` as itself and keeps it when it is a plain folder. Under Wine a
// Linux link to a folder shows as a reparse point only in the attributes read by name,
// so those are checked as well (but for a volume's root, which Wine shows as its link
// to the Linux folder it maps).
ScopedHandle HoldPlainFolder(const std::wstring& wide, bool volume_root = false) {
  ScopedHandle handle(CreateFileW(wide.c_str(), kHoldAccess, kHoldShare, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  if (!handle.IsValid()) return handle;
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (KindOf(handle.Get(), info) != HandleKind::kFolder ||
      (!volume_root && win32_detail::IsReparsePoint(attributes))) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return ScopedHandle();
  }
  return handle;
}

// Where a step's path lies.
enum class Place {
  kInside,   // in the agent folder, every folder on the way held
  kOutside,  // not in the agent folder: the path is resolved alone
  kRefused,  // in the agent folder, through a link or something else than a folder
};

// Whether `access` is granted to this process on the object `handle` names.
bool Granted(HANDLE handle, DWORD access) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                          DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  HANDLE process_token = nullptr;
  HANDLE token = nullptr;
  bool granted = false;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process_token) &&
      DuplicateToken(process_token, SecurityImpersonation, &token)) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privileges_size = sizeof privileges;
    DWORD granted_access = 0;
    BOOL status = FALSE;
    granted = AccessCheck(descriptor, token, access, &mapping, &privileges, &privileges_size,
                          &granted_access, &status) &&
              status;
  }
  if (token) CloseHandle(token);
  if (process_token) CloseHandle(process_token);
  LocalFree(descriptor);
  return granted;
}

}  // namespace

struct AgentFolder::State {
  struct Held {
    std::wstring path;  // "\\?\" form, no trailing "\" (but for a volume's root)
    ScopedHandle handle;
  };

  std::wstring root;
  std::vector<Held> chain;  // the volume's root down to the agent folder
  std::mutex mutex;         // guards `held`; workers may open files meanwhile
  std::vector<Held> held;   // folders inside the agent folder, held as steps reach them

  // The hold on the folder `wide` (the agent folder or below it), taking it, and every
  // folder between, when not held yet. Null when one of them is no plain folder.
  HANDLE Hold(const std::wstring& wide) {
    if (SameText(wide, root)) return chain.back().handle.Get();
    for (const Held& folder : held) {
      if (SameText(folder.path, wide)) return folder.handle.Get();
    }
    const std::size_t cut = wide.rfind(L'\\');
    if (cut == std::wstring::npos || !Hold(wide.substr(0, cut))) return nullptr;
    ScopedHandle handle = HoldPlainFolder(wide);
    if (!handle.IsValid()) return nullptr;
    held.push_back({wide, std::move(handle)});
    return held.back().handle.Get();
  }

  // Where `path` lies; for one inside, every folder that holds it is held.
  Place Locate(const std::string& path, HANDLE* folder = nullptr) {
    std::optional<std::wstring> wide = LongPath(path);
    if (!wide || !IsBelow(*wide, root)) return Place::kOutside;
    const std::size_t cut = wide->rfind(L'\\');
    std::lock_guard<std::mutex> lock(mutex);
    HANDLE handle = Hold(wide->substr(0, cut));
    if (!handle) {
      ::SetLastError(ERROR_CANT_ACCESS_FILE);
      return Place::kRefused;
    }
    if (folder) *folder = handle;
    return Place::kInside;
  }
};

AgentFolder::AgentFolder() = default;
AgentFolder::~AgentFolder() = default;
AgentFolder::AgentFolder(AgentFolder&&) noexcept = default;
AgentFolder& AgentFolder::operator=(AgentFolder&&) noexcept = default;

AgentFolder AgentFolder::Open(const std::string& root) {
  AgentFolder folder;
  std::optional<std::wstring> wide = LongPath(root);
  if (!wide) return folder;
  // The first level is the volume's root, "\\?\C:\" or "\\?\UNC\server\share\"; each
  // later one ends before its "\".
  std::size_t end = 6;
  if (wide->compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    end = wide->find(L'\\', wide->find(L'\\', 8) + 1);
    if (end == std::wstring::npos) *wide += L'\\';
    end = wide->find(L'\\', wide->find(L'\\', 8) + 1);
  }
  if (end >= wide->size()) return folder;
  auto state = std::make_unique<State>();
  std::wstring level = wide->substr(0, end + 1);
  while (true) {
    ScopedHandle handle = HoldPlainFolder(level, state->chain.empty());
    if (!handle.IsValid()) return folder;
    state->chain.push_back({level, std::move(handle)});
    if (end + 1 >= wide->size()) break;
    end = wide->find(L'\\', end + 1);
    if (end == std::wstring::npos) end = wide->size();
    level = wide->substr(0, end);
  }
  state->root = level;
  folder.state_ = std::move(state);
  return folder;
}

bool AgentFolder::IsOpen() const { return state_ != nullptr; }

bool AgentFolder::HoldFolder(const std::string& path) {
  if (!state_) return false;
  std::optional<std::wstring> wide = LongPath(path);
  if (!wide || !IsBelow(*wide, state_->root)) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  if (state_->Locate(path) != Place::kInside) return false;
  platform::CreateFolder(path);
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->Hold(*wide) != nullptr;
}

// ---- Per-file steps: each checks where its path lies, then acts on it -----------------

bool AgentFolder::SetAttributesNormal(const std::string& path) const {
  if (state_ && state_->Locate(path) == Place::kRefused) return false;
  return platform::SetAttributesNormal(path);
}

bool AgentFolder::CreateFolder(const std::string& path) const {
  if (state_ && state_->Locate(path) == Place::kRefused) return false;
  return platform::CreateFolder(path);
}

// MoveToFreeName (free_name.cpp) moves through this, so every free name it tries lies in
// a folder checked and held here.
MoveOutcome AgentFolder::MoveNoReplace(const std::string& from, const std::string& to) const {
  if (state_ &&
      (state_->Locate(from) == Place::kRefused || state_->Locate(to) == Place::kRefused)) {
    return MoveOutcome::kFailed;
  }
  return platform::MoveNoReplace(from, to);
}

bool AgentFolder::DeleteFileAt(const std::string& path) const {
  if (state_ && state_->Locate(path) == Place::kRefused) return false;
  return platform::DeleteFileAt(path);
}

FileIdentity AgentFolder::IdentityAt(const std::string& path) const {
  if (state_ && state_->Locate(path) == Place::kRefused) return {};
  return platform::IdentityAt(path);
}

bool AgentFolder::DeleteIfUnchanged(const std::string& path,
                                    const FileIdentity& expected) const {
  if (state_ && state_->Locate(path) == Place::kRefused) return false;
  return platform::DeleteIfUnchanged(path, expected);
}

File AgentFolder::Open(const std::string& path, OpenMode mode) const {
  if (state_ && state_->Locate(path) == Place::kRefused) return File();
  return File::Open(path, mode);
}

SearchStep AgentFolder::First(DirSearch& search, const std::string& folder_and_pattern,
                              DirEntry& entry) const {
  // The listed folder itself must be held: locate a name inside it.
  if (state_ && state_->Locate(folder_and_pattern) == Place::kRefused) {
    return SearchStep::kFailed;
  }
  return search.First(folder_and_pattern, entry);
}

bool AgentFolder::CanDelete(const std::string& path, const File& file) const {
  HANDLE folder = nullptr;
  const Place place = state_ ? state_->Locate(path, &folder) : Place::kOutside;
  if (place == Place::kRefused || !file.IsOpen()) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(file.handle_);
  DWORD volume_flags = 0;
  if (GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &volume_flags, nullptr,
                                    0) &&
      (volume_flags & FILE_READ_ONLY_VOLUME)) {
    ::SetLastError(ERROR_WRITE_PROTECT);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info) ||
      ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) && !SetAttributesNormal(path))) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  // Windows lets a name go with the delete right on the file or the delete-child right
  // on its folder (outside a held folder, the folder the path names now).
  ScopedHandle opened;
  if (!folder) {
    std::optional<std::wstring> wide = LongPath(path);
    const std::size_t cut = wide ? wide->rfind(L'\\') : std::wstring::npos;
    if (cut != std::wstring::npos) opened = HoldPlainFolder(wide->substr(0, cut));
    folder = opened.IsValid() ? opened.Get() : nullptr;
  }
  if (!Granted(handle, DELETE) && !(folder && Granted(folder, FILE_DELETE_CHILD))) {
    ::SetLastError(ERROR_ACCESS_DENIED);
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

bool NoSuchFile(int error_number) { return error_number == ERROR_FILE_NOT_FOUND; }

File::WriterHold File::HoldOffWriters() { return WriterHold::kHeld; }

bool File::WriterWaiting() const { return false; }

void File::EndWriterHold() {}

long long File::MsSinceChange() const {
  BY_HANDLE_FILE_INFORMATION info{};
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &info)) return -1;
  auto ticks = [](const FILETIME& t) {
    return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  const long long age = ticks(now) - ticks(info.ftLastWriteTime);  // 100 ns units
  return age > 0 ? age / 10000 : 0;
}

bool SecondNamesHarmless() { return true; }

}  // namespace vemtu::platform
