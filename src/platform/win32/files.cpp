// Files and folders through kernel32. Every open file is shared for reading only: no
// other handle may write to it while it is open.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>

namespace vemtu::platform {

namespace {

HANDLE AsHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

// ReadFile and WriteFile take 32-bit counts; larger requests go in pieces of this size.
constexpr std::size_t kMaxChunk = 0x40000000;

}  // namespace

bool SetAttributesNormal(const std::string& path) {
  return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool CreateFolder(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool MoveReplace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// ---- File --------------------------------------------------------------------------

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
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
  }
  DWORD share = mode == OpenMode::kWriteTruncateUnshared ? 0 : FILE_SHARE_READ;
  HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return File(reinterpret_cast<std::intptr_t>(handle));
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

void File::Close() {
  if (IsOpen()) CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

}  // namespace vemtu::platform
