// AES-256-GCM and random bytes from CNG (Windows).
#include <windows.h>
#include <bcrypt.h>

#include <climits>

#include "aead.h"

namespace vemtu::cipher {

namespace {

constexpr NTSTATUS kAuthTagMismatch = static_cast<NTSTATUS>(0xC000A002L);

bool Succeeded(NTSTATUS status) { return status >= 0; }

// An AES key in GCM mode; both handles closed by the destructor.
class GcmKey {
 public:
  explicit GcmKey(const CipherKey& key) {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_AES_ALGORITHM, nullptr, 0))) {
      algorithm_ = nullptr;
      return;
    }
    auto* mode = reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM));
    if (!Succeeded(BCryptSetProperty(algorithm_, BCRYPT_CHAINING_MODE, mode,
                                     sizeof(BCRYPT_CHAIN_MODE_GCM), 0)) ||
        !Succeeded(BCryptGenerateSymmetricKey(algorithm_, &key_, nullptr, 0,
                                              const_cast<PUCHAR>(key.data()),
                                              static_cast<ULONG>(key.size()), 0))) {
      key_ = nullptr;
    }
  }
  ~GcmKey() {
    if (key_) BCryptDestroyKey(key_);
    if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  GcmKey(const GcmKey&) = delete;
  GcmKey& operator=(const GcmKey&) = delete;

  BCRYPT_KEY_HANDLE get() const { return key_; }

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO ModeInfo(const unsigned char* nonce, unsigned char* tag) {
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
  BCRYPT_INIT_AUTH_MODE_INFO(info);
  info.pbNonce = const_cast<PUCHAR>(nonce);
  info.cbNonce = kNonceBytes;
  info.pbTag = tag;
  info.cbTag = kTagBytes;
  return info;
}

PUCHAR Bytes(std::string_view s) { return reinterpret_cast<PUCHAR>(const_cast<char*>(s.data())); }

}  // namespace

bool FillRandom(unsigned char* bytes, std::size_t size) {
  return size <= ULONG_MAX &&
         Succeeded(BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(size),
                                   BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool SealAesGcm(const CipherKey& key, const unsigned char* nonce, std::string_view clear,
                std::string& sealed, unsigned char* tag) {
  GcmKey gcm(key);
  if (!gcm.get() || clear.size() > ULONG_MAX) return false;
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = ModeInfo(nonce, tag);
  std::string out(clear.size(), '\0');
  ULONG done = 0;
  NTSTATUS status = BCryptEncrypt(gcm.get(), clear.empty() ? nullptr : Bytes(clear),
                                  static_cast<ULONG>(clear.size()), &info, nullptr, 0,
                                  out.empty() ? nullptr : Bytes(out),
                                  static_cast<ULONG>(out.size()), &done, 0);
  if (!Succeeded(status) || done != out.size()) return false;
  sealed.swap(out);
  return true;
}

OpenResult OpenAesGcm(const CipherKey& key, const unsigned char* nonce, std::string_view sealed,
                      const unsigned char* tag, std::string& clear) {
  GcmKey gcm(key);
  if (!gcm.get() || sealed.size() > ULONG_MAX) return OpenResult::kFailed;
  unsigned char tag_copy[kTagBytes];
  for (std::size_t i = 0; i < kTagBytes; ++i) tag_copy[i] = tag[i];
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = ModeInfo(nonce, tag_copy);
  std::string out(sealed.size(), '\0');
  ULONG done = 0;
  NTSTATUS status = BCryptDecrypt(gcm.get(), sealed.empty() ? nullptr : Bytes(sealed),
                                  static_cast<ULONG>(sealed.size()), &info, nullptr, 0,
                                  out.empty() ? nullptr : Bytes(out),
                                  static_cast<ULONG>(out.size()), &done, 0);
  if (status == kAuthTagMismatch) return OpenResult::kRejected;
  if (!Succeeded(status) || done != out.size()) return OpenResult::kFailed;
  // Not every CNG implementation checks the tag of an empty cipher text: seal the clear
  // text again with the same nonce and compare the tags as well.
  std::string resealed;
  unsigned char expected[kTagBytes];
  if (!SealAesGcm(key, nonce, out, resealed, expected)) return OpenResult::kFailed;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < kTagBytes; ++i) difference |= expected[i] ^ tag[i];
  if (difference != 0) return OpenResult::kRejected;
  clear.swap(out);
  return OpenResult::kOpened;
}

}  // namespace vemtu::cipher
