// Files and folders through kernel32's wide functions, on "\\?\" paths (see long_path.h).
// No other handle may write to an open file while it is open.
//
// A link or unknown reparse point is never followed: files are opened with
// FILE_FLAG_OPEN_REPARSE_POINT and judged by their tag on that handle (reparse.h), and
// nothing is written, created, changed, moved or deleted through a folder that is a
// reparse point at any level of the path. Only disk files
// open; a pipe or device is refused as a missing file would be.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/long_path.h"
#include "platform/win32/reparse.h"
#include "platform/win32/scoped_handle.h"

namespace vemtu::platform {

using win32_detail::FolderIsPlain;
using win32_detail::HandleKind;
using win32_detail::IsReparsePoint;
using win32_detail::KindOf;
using win32_detail::LongPath;
using win32_detail::ScopedHandle;

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// ReadFile and WriteFile take 32-bit counts; larger requests go in pieces of this size.
constexpr std::size_t kMaxChunk = 0x40000000;

constexpr DWORD kNoSuchFile = ERROR_FILE_NOT_FOUND;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsRegularFile(HandleKind kind) {
  return kind == HandleKind::kFile || kind == HandleKind::kDataFile;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity id;
  id.device = info.dwVolumeSerialNumber;
  id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  id.modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  id.links = info.nNumberOfLinks;
  id.valid = true;
  return id;
}

FileIdentity IdentityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  return IsRegularFile(KindOf(handle, info)) ? IdentityOf(info) : FileIdentity{};
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
         a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Opens `path` as itself, never through a reparse point (`extra` adds flags).
ScopedHandle OpenUnfollowed(const std::string& path, DWORD access, DWORD share,
                            DWORD disposition, DWORD extra = 0) {
  std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return ScopedHandle();
  return ScopedHandle(CreateFileW(wide->c_str(), access, share, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | extra,
                                  nullptr));
}

}  // namespace

bool SetAttributesNormal(const std::string& path) {
  if (!FolderIsPlain(path)) return false;
  // Through a handle on the name itself, so that a link's target is never changed.
  ScopedHandle handle = OpenUnfollowed(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                       kShareAll, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (!handle.IsValid()) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (KindOf(handle.Get(), info) == HandleKind::kRefused) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  FILE_BASIC_INFO basic{};  // times of zero are left as they are
  basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle.Get(), FileBasicInfo, &basic, sizeof basic) != 0;
}

bool CreateFolder(const std::string& path) {
  std::optional<std::wstring> wide = LongPath(path);
  return wide && FolderIsPlain(path) && CreateDirectoryW(wide->c_str(), nullptr) != 0;
}

MoveOutcome MoveNoReplace(const std::string& from, const std::string& to) {
  if (!FolderIsPlain(from) || !FolderIsPlain(to)) return MoveOutcome::kFailed;
  std::optional<std::wstring> wide_from = LongPath(from);
  std::optional<std::wstring> wide_to = LongPath(to);
  if (!wide_from || !wide_to) return MoveOutcome::kFailed;
  if (MoveFileExW(wide_from->c_str(), wide_to->c_str(), 0)) return MoveOutcome::kMoved;
  DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? MoveOutcome::kExists
                                                                     : MoveOutcome::kFailed;
}

bool DeleteFileAt(const std::string& path) {
  std::optional<std::wstring> wide = LongPath(path);
  return wide && FolderIsPlain(path) && DeleteFileW(wide->c_str()) != 0;
}

bool IsFolder(const std::string& path) {
  std::optional<std::wstring> wide = LongPath(path);
  if (!wide) return false;
  DWORD attributes = GetFileAttributesW(wide->c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         !IsReparsePoint(attributes);
}

FileIdentity IdentityAt(const std::string& path) {
  ScopedHandle handle = OpenUnfollowed(path, FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
  return handle.IsValid() ? IdentityOfHandle(handle.Get()) : FileIdentity{};
}

bool DeleteIfUnchanged(const std::string& path, const FileIdentity& expected) {
  if (!FolderIsPlain(path)) return false;
  // The check and the delete act on one handle, so the name cannot be given to another
  // file between them.
  ScopedHandle handle =
      OpenUnfollowed(path, DELETE | FILE_READ_ATTRIBUTES, kShareAll, OPEN_EXISTING);
  if (!handle.IsValid()) return false;
  if (!(IdentityOfHandle(handle.Get()) == expected)) {
    ::SetLastError(ERROR_FILE_INVALID);
    return false;
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle.Get(), FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// ---- File --------------------------------------------------------------------------

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_), at_open_(other.at_open_) {
  other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    at_open_ = other.at_open_;
    other.handle_ = -1;
  }
  return *this;
}

File File::Open(const std::string& path, OpenMode mode) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  bool truncate = false;
  switch (mode) {
    case OpenMode::kReadExisting:
      break;
    case OpenMode::kReadWriteExisting:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    case OpenMode::kReadWriteAlways:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      break;
    case OpenMode::kWriteTruncate:
    case OpenMode::kWriteTruncateUnshared:
      // Emptied only once the handle is known to name a plain file.
      access = GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      truncate = true;
      break;
    case OpenMode::kAppendAlways:
      // Without FILE_WRITE_DATA every write goes to the end of the file.
      access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
      disposition = OPEN_ALWAYS;
      break;
    case OpenMode::kCreateNew:
      access = GENERIC_READ | GENERIC_WRITE;
      disposition = CREATE_NEW;
      break;
  }
  if (mode != OpenMode::kReadExisting && mode != OpenMode::kReadWriteExisting &&
      !FolderIsPlain(path)) {
    return File();
  }
  // A file opened for reading may still be deleted (by this run, after its post, while it
  // is held open) or renamed; no other handle may write to it.
  const DWORD share = mode == OpenMode::kWriteTruncateUnshared ? 0
                      : mode == OpenMode::kReadExisting  ? FILE_SHARE_READ | FILE_SHARE_DELETE
                                                         : FILE_SHARE_READ;
  ScopedHandle handle = OpenUnfollowed(path, access, share, disposition);
  if (!handle.IsValid()) return File();
  BY_HANDLE_FILE_INFORMATION info{};
  HandleKind kind = KindOf(handle.Get(), info);
  if (kind == HandleKind::kDataFile) {
    // The filter gives the data only to a handle opened without the flag; it must still
    // be the file just judged, not a link put in its place meanwhile.
    const BY_HANDLE_FILE_INFORMATION judged = info;
    handle.Reset();
    std::optional<std::wstring> wide = LongPath(path);
    handle = ScopedHandle(CreateFileW(wide->c_str(), access, share, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.IsValid()) return File();
    kind = KindOf(handle.Get(), info);
    if (!SameFile(judged, info)) kind = HandleKind::kRefused;
  }
  if (!IsRegularFile(kind)) {
    ::SetLastError(kNoSuchFile);
    return File();
  }
  if (truncate && !SetEndOfFile(handle.Get())) return File();
  FileIdentity at_open = IdentityOf(info);
  if (truncate) at_open.size = 0;
  return File(reinterpret_cast<std::intptr_t>(handle.Release()), at_open);
}

bool File::IsOpen() const { return AsHandle(handle_) != INVALID_HANDLE_VALUE; }

namespace {

// Reads up to `size` bytes in pieces ReadFile can take: from `offset` when one is given,
// else from the file position. Fewer only at the end of the file; -1 when nothing could
// be read.
long long ReadPieces(HANDLE handle, char* out, std::size_t size, const std::uint64_t* offset) {
  std::size_t total = 0;
  while (total < size) {
    DWORD wanted = static_cast<DWORD>(std::min(size - total, kMaxChunk));
    DWORD got = 0;
    OVERLAPPED at{};
    if (offset) {
      const std::uint64_t from = *offset + total;
      at.Offset = static_cast<DWORD>(from);
      at.OffsetHigh = static_cast<DWORD>(from >> 32);
    }
    if (!ReadFile(handle, out + total, wanted, &got, offset ? &at : nullptr)) {
      if (offset && GetLastError() == ERROR_HANDLE_EOF) break;
      return total > 0 ? static_cast<long long>(total) : -1;
    }
    total += got;
    if (got < wanted) break;  // end of file
  }
  return static_cast<long long>(total);
}

}  // namespace

long long File::Read(void* buffer, std::size_t size) {
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return ReadPieces(AsHandle(handle_), static_cast<char*>(buffer), size, nullptr);
}

long long File::ReadAt(void* buffer, std::size_t size, std::uint64_t offset) const {
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  return ReadPieces(AsHandle(handle_), static_cast<char*>(buffer), size, &offset);
}

File File::Duplicate() const {
  HANDLE copy = nullptr;
  if (!IsOpen() || !DuplicateHandle(GetCurrentProcess(), AsHandle(handle_), GetCurrentProcess(),
                                    &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return File();
  }
  return File(reinterpret_cast<std::intptr_t>(copy), at_open_);
}

bool File::Write(const void* buffer, std::size_t size) {
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  const char* in = static_cast<const char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    DWORD wanted = static_cast<DWORD>(std::min(size - total, kMaxChunk));
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), in + total, wanted, &written, nullptr) || written == 0) {
      return false;
    }
    total += written;
  }
  return true;
}

bool File::SeekToEnd() {
  LARGE_INTEGER zero{};
  return IsOpen() && SetFilePointerEx(AsHandle(handle_), zero, nullptr, FILE_END) != 0;
}

bool File::SeekTo(std::uint64_t offset) {
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(offset);
  return IsOpen() && SetFilePointerEx(AsHandle(handle_), position, nullptr, FILE_BEGIN) != 0;
}

long long File::Size() const {
  if (!IsOpen()) return -1;
  DWORD high = 0;
  ::SetLastError(ERROR_SUCCESS);
  DWORD low = GetFileSize(AsHandle(handle_), &high);
  // INVALID_FILE_SIZE is also a valid low half; only the error number tells them apart.
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return -1;
  return static_cast<long long>((static_cast<std::uint64_t>(high) << 32) | low);
}

FileIdentity File::Identity() const {
  if (!IsOpen()) return {};
  return IdentityOfHandle(AsHandle(handle_));
}

void File::Close() {
  if (IsOpen()) CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

}  // namespace vemtu::platform
