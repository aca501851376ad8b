// The key file on Windows: the key protected with machine-scope DPAPI, written to a new
// temporary file and moved into place, so that a reader never sees half a key. The folder
// is made for SYSTEM and Administrators only; a key or folder that another user owns or
// may change is refused, and no step follows a reparse point.
#include <windows.h>
#include <dpapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "aead.h"
#include "key_store.h"
#include "key_trust_win32.h"

namespace vemtu::cipher {

namespace {

// Extra secret mixed into the protection, so that other programs' DPAPI calls do not
// unprotect the key by accident.
constexpr char kEntropy[] = "vemtu cipher key";

std::wstring Environment(const wchar_t* name) {
  DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(name, &value[0], n);
  value.resize(n);
  return value;
}

std::wstring KeyFilePathWide() {
  std::wstring chosen = Environment(L"VEMTU_CIPHER_KEY");
  if (!chosen.empty()) return chosen;
  std::wstring base = Environment(L"ProgramData");
  if (base.empty()) base = L"C:\\ProgramData";
  return base + L"\\Vemtu\\cipher.key";
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n,
                        nullptr, nullptr);
  }
  return text;
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// Security given at creation; null (default security) when the system cannot build it.
class CreationSecurity {
 public:
  explicit CreationSecurity(const wchar_t* sddl) {
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor_,
                                                             nullptr)) {
      attributes_.nLength = sizeof attributes_;
      attributes_.lpSecurityDescriptor = descriptor_;
      attributes_.bInheritHandle = FALSE;
    }
  }
  ~CreationSecurity() {
    if (descriptor_) LocalFree(descriptor_);
  }
  CreationSecurity(const CreationSecurity&) = delete;
  CreationSecurity& operator=(const CreationSecurity&) = delete;

  SECURITY_ATTRIBUTES* get() { return descriptor_ ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

// The key file's access: the system, administrators and the file's owner, nothing
// inherited from the folder.
constexpr wchar_t kKeyFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)";

std::wstring FolderOf(const std::wstring& path) {
  std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

DATA_BLOB Blob(const void* data, std::size_t size) {
  DATA_BLOB blob;
  blob.pbData = static_cast<BYTE*>(const_cast<void*>(data));
  blob.cbData = static_cast<DWORD>(size);
  return blob;
}

}  // namespace

CipherStatus ReadKeyFile(const std::string& utf8_path, CipherKey& key) {
  std::wstring path = Wide(utf8_path);
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? CipherStatus::kNoKey
                                                                          : CipherStatus::kBadKey;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return CipherStatus::kBadKey;
  }
  if (!IsTrustedObject(file.get()) || !IsTrustedFolder(FolderOf(path))) {
    return CipherStatus::kForeignKey;
  }
  std::vector<BYTE> blob(4096);
  DWORD got = 0;
  if (!ReadFile(file.get(), blob.data(), static_cast<DWORD>(blob.size()), &got, nullptr) ||
      got == 0 || got == blob.size()) {
    return CipherStatus::kBadKey;
  }
  DATA_BLOB in = Blob(blob.data(), got);
  DATA_BLOB entropy = Blob(kEntropy, sizeof kEntropy - 1);
  DATA_BLOB out{};
  if (!CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out)) {
    return CipherStatus::kBadKey;
  }
  bool fits = out.cbData == kKeyBytes;
  if (fits) {
    for (std::size_t i = 0; i < kKeyBytes; ++i) key[i] = out.pbData[i];
  }
  SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return fits ? CipherStatus::kOk : CipherStatus::kBadKey;
}

CipherStatus CreateKeyFile(const std::string& utf8_path) {
  std::wstring path = Wide(utf8_path);
  const std::wstring folder = FolderOf(path);
  {
    CreationSecurity security(kKeyFolderSddl);
    CreateDirectoryW(folder.c_str(), security.get());  // one that exists is kept, and checked
  }
  if (!IsTrustedFolder(folder)) return CipherStatus::kForeignKey;
  CipherKey fresh;
  if (!FillRandom(fresh.data(), fresh.size())) return CipherStatus::kCryptoFailed;
  DATA_BLOB in = Blob(fresh.data(), fresh.size());
  DATA_BLOB entropy = Blob(kEntropy, sizeof kEntropy - 1);
  DATA_BLOB out{};
  BOOL sealed = CryptProtectData(&in, L"vemtu cipher key", &entropy, nullptr, nullptr,
                                 CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &out);
  SecureZeroMemory(fresh.data(), fresh.size());
  if (!sealed) return CipherStatus::kCryptoFailed;
  std::wstring temp = path + L".new" + std::to_wstring(GetCurrentProcessId());
  bool written = false;
  {
    // CREATE_NEW: nothing that is already there, a link included, is opened or replaced.
    CreationSecurity security(kKeyFileSddl);
    FileHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, security.get(), CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD done = 0;
    written = file.get() != INVALID_HANDLE_VALUE &&
              WriteFile(file.get(), out.pbData, out.cbData, &done, nullptr) && done == out.cbData &&
              FlushFileBuffers(file.get());
  }
  LocalFree(out.pbData);
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the key appeared meanwhile:
  // the first key made stays the key.
  bool placed = written && (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH) ||
                            GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS);
  DeleteFileW(temp.c_str());
  return placed ? CipherStatus::kOk : CipherStatus::kNoKey;
}

std::string KeyFilePath() { return Utf8(KeyFilePathWide()); }

}  // namespace vemtu::cipher
