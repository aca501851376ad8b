#include "cipher_text.h"

#include "aead.h"
#include "key_store.h"

namespace vemtu::cipher {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of a base64 character, -1 for any other byte.
int Base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Wipes a copy of the key when it goes out of scope.
struct KeyHolder {
  CipherKey key{};
  ~KeyHolder() {
    volatile unsigned char* p = key.data();
    for (std::size_t i = 0; i < key.size(); ++i) p[i] = 0;
  }
};

}  // namespace

const char* Describe(CipherStatus status) {
  switch (status) {
    case CipherStatus::kOk: return "ok";
    case CipherStatus::kNoKey: return "no key file";
    case CipherStatus::kBadKey: return "the key file is unreadable or holds no key";
    case CipherStatus::kExposedKey: return "the key file may be read by others than its owner";
    case CipherStatus::kForeignKey:
      return "the key file or its folder belongs to, or may be changed by, another user";
    case CipherStatus::kMalformed: return "not a cipher text";
    case CipherStatus::kRejected: return "the text was made with another key or was altered";
    case CipherStatus::kTooLong: return "the text is too long";
    case CipherStatus::kCryptoFailed: return "the crypto library failed";
  }
  return "?";
}

std::string EncodeBase64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    text += kAlphabet[v >> 18];
    text += kAlphabet[(v >> 12) & 63];
    text += kAlphabet[(v >> 6) & 63];
    text += kAlphabet[v & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    text += kAlphabet[v >> 18];
    text += kAlphabet[(v >> 12) & 63];
    text += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

bool DecodeBase64(std::string_view text, std::string& bytes) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.size() % 4 != 0) return false;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text[text.size() - 2] == '=' ? 2 : 1;
  std::string result;
  result.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    std::size_t digits = last ? 4 - padding : 4;
    unsigned v = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      int d = k < digits ? Base64Value(static_cast<unsigned char>(text[i + k])) : 0;
      if (d < 0) return false;
      v = (v << 6) | static_cast<unsigned>(d);
    }
    // Bits below the last whole byte must be zero, so each text has one form only.
    if ((digits == 2 && (v & 0xFFFF)) || (digits == 3 && (v & 0xFF))) return false;
    result += static_cast<char>(v >> 16);
    if (digits >= 3) result += static_cast<char>((v >> 8) & 0xFF);
    if (digits == 4) result += static_cast<char>(v & 0xFF);
  }
  bytes.swap(result);
  return true;
}

CipherStatus EncryptText(const CipherKey& key, std::string_view clear, std::string& text) {
  if (clear.size() > kMaxClearBytes) return CipherStatus::kTooLong;
  unsigned char nonce[kNonceBytes];
  unsigned char tag[kTagBytes];
  if (!FillRandom(nonce, sizeof nonce)) return CipherStatus::kCryptoFailed;
  std::string sealed;
  if (!SealAesGcm(key, nonce, clear, sealed, tag)) return CipherStatus::kCryptoFailed;
  std::string packed(reinterpret_cast<const char*>(nonce), sizeof nonce);
  packed += sealed;
  packed.append(reinterpret_cast<const char*>(tag), sizeof tag);
  text = EncodeBase64(packed);
  return CipherStatus::kOk;
}

CipherStatus DecryptText(const CipherKey& key, std::string_view text, std::string& clear) {
  if (text.size() > (kMaxClearBytes + kNonceBytes + kTagBytes) / 3 * 4 + 8) {
    return CipherStatus::kTooLong;
  }
  std::string packed;
  if (!DecodeBase64(text, packed) || packed.size() < kNonceBytes + kTagBytes) {
    return CipherStatus::kMalformed;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(packed.data());
  std::string_view sealed(packed.data() + kNonceBytes, packed.size() - kNonceBytes - kTagBytes);
  std::string opened;
  switch (OpenAesGcm(key, bytes, sealed, bytes + packed.size() - kTagBytes, opened)) {
    case OpenResult::kOpened: clear.swap(opened); return CipherStatus::kOk;
    case OpenResult::kRejected: return CipherStatus::kRejected;
    case OpenResult::kFailed: return CipherStatus::kCryptoFailed;
  }
  return CipherStatus::kCryptoFailed;
}

CipherStatus EncryptWithStoredKey(std::string_view clear, std::string& text) {
  KeyHolder holder;
  CipherStatus status = LoadOrCreateKey(holder.key);
  return status == CipherStatus::kOk ? EncryptText(holder.key, clear, text) : status;
}

CipherStatus DecryptWithStoredKey(std::string_view text, std::string& clear) {
  KeyHolder holder;
  CipherStatus status = LoadKey(holder.key);
  return status == CipherStatus::kOk ? DecryptText(holder.key, text, clear) : status;
}

}  // namespace vemtu::cipher
