// AES-256-GCM and random bytes from OpenSSL (Linux).
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

#include "aead.h"

namespace vemtu::cipher {

namespace {

struct ContextFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextFree>;

auto* Bytes(std::string& s) { return reinterpret_cast<unsigned char*>(&s[0]); }
auto* Bytes(std::string_view s) { return reinterpret_cast<const unsigned char*>(s.data()); }

}  // namespace

bool FillRandom(unsigned char* bytes, std::size_t size) {
  return size <= INT_MAX && RAND_bytes(bytes, static_cast<int>(size)) == 1;
}

bool SealAesGcm(const CipherKey& key, const unsigned char* nonce, std::string_view clear,
                std::string& sealed, unsigned char* tag) {
  if (clear.size() > INT_MAX - 32) return false;
  Context ctx(EVP_CIPHER_CTX_new());
  if (!ctx ||
      EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceBytes, nullptr) != 1 ||
      EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce) != 1) {
    return false;
  }
  std::string out(clear.size() + 16, '\0');
  int written = 0;
  if (!clear.empty() && EVP_EncryptUpdate(ctx.get(), Bytes(out), &written, Bytes(clear),
                                          static_cast<int>(clear.size())) != 1) {
    return false;
  }
  int tail = 0;
  if (EVP_EncryptFinal_ex(ctx.get(), Bytes(out) + written, &tail) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, tag) != 1) {
    return false;
  }
  out.resize(static_cast<std::size_t>(written + tail));
  sealed.swap(out);
  return true;
}

OpenResult OpenAesGcm(const CipherKey& key, const unsigned char* nonce, std::string_view sealed,
                      const unsigned char* tag, std::string& clear) {
  if (sealed.size() > INT_MAX - 32) return OpenResult::kFailed;
  Context ctx(EVP_CIPHER_CTX_new());
  if (!ctx ||
      EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceBytes, nullptr) != 1 ||
      EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.data(), nonce) != 1) {
    return OpenResult::kFailed;
  }
  std::string out(sealed.size() + 16, '\0');
  int written = 0;
  if (!sealed.empty() && EVP_DecryptUpdate(ctx.get(), Bytes(out), &written, Bytes(sealed),
                                           static_cast<int>(sealed.size())) != 1) {
    return OpenResult::kFailed;
  }
  if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagBytes,
                          const_cast<unsigned char*>(tag)) != 1) {
    return OpenResult::kFailed;
  }
  int tail = 0;
  if (EVP_DecryptFinal_ex(ctx.get(), Bytes(out) + written, &tail) != 1) {
    return OpenResult::kRejected;
  }
  out.resize(static_cast<std::size_t>(written + tail));
  clear.swap(out);
  return OpenResult::kOpened;
}

}  // namespace vemtu::cipher
