// Files and folders through kernel32. Every open file is shared for reading only: no
// other handle may write to it while it is open.
//
// A reparse point (a junction or symbolic link) is never followed: files are opened with
// FILE_FLAG_OPEN_REPARSE_POINT and refused when they are one, and a file is never written
// or moved into a folder that is one. Only disk files open; a pipe or device is refused
// as a missing file would be.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/reparse.h"

namespace vemtu::platform {

using win32_detail::FolderIsPlain;
using win32_detail::IsReparsePoint;

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// ReadFile and WriteFile take 32-bit counts; larger requests go in pieces of this size.
constexpr std::size_t kMaxChunk = 0x40000000;

constexpr DWORD kNoSuchFile = ERROR_FILE_NOT_FOUND;

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity id;
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return id;
  id.device = info.dwVolumeSerialNumber;
  id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  id.modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
      info.ftLastWriteTime.dwLowDateTime);
  id.valid = true;
  return id;
}

FileIdentity IdentityOfHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return {};
  return IdentityOf(info);
}

}  // namespace

bool SetAttributesNormal(const std::string& path) {
  if (IsReparsePoint(GetFileAttributesA(path.c_str()))) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool CreateFolder(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

MoveOutcome MoveNoReplace(const std::string& from, const std::string& to) {
  if (!FolderIsPlain(to)) return MoveOutcome::kFailed;
  if (MoveFileExA(from.c_str(), to.c_str(), 0)) return MoveOutcome::kMoved;
  DWORD error = GetLastError();
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? MoveOutcome::kExists
                                                                     : MoveOutcome::kFailed;
}

bool DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         !IsReparsePoint(attributes);
}

FileIdentity IdentityAt(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  FileIdentity id = GetFileType(handle) == FILE_TYPE_DISK ? IdentityOfHandle(handle) : FileIdentity{};
  CloseHandle(handle);
  return id;
}

bool DeleteIfUnchanged(const std::string& path, const FileIdentity& expected) {
  if (!(IdentityAt(path) == expected)) {
    ::SetLastError(ERROR_FILE_INVALID);
    return false;
  }
  return DeleteFileA(path.c_str()) != 0;
}

// ---- File --------------------------------------------------------------------------

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_), size_at_open_(other.size_at_open_) {
  other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    size_at_open_ = other.size_at_open_;
    other.handle_ = -1;
  }
  return *this;
}

File File::Open(const std::string& path, OpenMode mode) {
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
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
      access = GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    case OpenMode::kAppendAlways:
      // Without FILE_WRITE_DATA every write goes to the end of the file.
      access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
      disposition = OPEN_ALWAYS;
      break;
  }
  if (mode != OpenMode::kReadExisting && mode != OpenMode::kReadWriteExisting &&
      !FolderIsPlain(path)) {
    return File();
  }
  DWORD share = mode == OpenMode::kWriteTruncateUnshared ? 0 : FILE_SHARE_READ;
  HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return File();
  File file(reinterpret_cast<std::intptr_t>(handle), -1);
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    file.Close();
    ::SetLastError(kNoSuchFile);
    return file;
  }
  file.size_at_open_ = static_cast<long long>(
      (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  return file;
}

bool File::IsOpen() const { return AsHandle(handle_) != INVALID_HANDLE_VALUE; }

long long File::Read(void* buffer, std::size_t size) {
  if (!IsOpen()) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  char* out = static_cast<char*>(buffer);
  std::size_t total = 0;
  while (total < size) {
    DWORD wanted = static_cast<DWORD>(std::min(size - total, kMaxChunk));
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), out + total, wanted, &got, nullptr)) {
      return total > 0 ? static_cast<long long>(total) : -1;
    }
    total += got;
    if (got < wanted) break;  // end of file
  }
  return static_cast<long long>(total);
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
