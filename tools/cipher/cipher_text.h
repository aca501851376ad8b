// The cipher's text form: base64 of nonce (12 bytes) | cipher text | tag (16 bytes),
// AES-256-GCM over the UTF-8 bytes of the clear text. Decryption of a text made with
// another key, or of a garbled or cut text, fails with a status; nothing is guessed.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace vemtu::cipher {

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kNonceBytes = 12;
constexpr std::size_t kTagBytes = 16;
// Longest clear text accepted (and so the longest cipher text produced), in bytes.
constexpr std::size_t kMaxClearBytes = 1 << 20;

using CipherKey = std::array<unsigned char, kKeyBytes>;

enum class CipherStatus {
  kOk,            // done
  kNoKey,         // no key file (decryption), or none could be made (encryption)
  kBadKey,        // the key file is unreadable or holds no key
  kExposedKey,    // the key file may be read by others than its owner: not used
  kMalformed,     // the text is not base64, or too short for nonce and tag
  kRejected,      // authentication failed: another key, or the text was altered
  kTooLong,       // the text exceeds kMaxClearBytes
  kCryptoFailed,  // the crypto library failed
  kForeignKey,    // the key file or its folder belongs to, or may be changed by, another user
};

const char* Describe(CipherStatus status);

std::string EncodeBase64(std::string_view bytes);
// Strict decoding: the standard alphabet with "=" padding, blanks and line breaks around
// the text ignored; false for anything else.
bool DecodeBase64(std::string_view text, std::string& bytes);

// Encrypts with a fresh random nonce.
CipherStatus EncryptText(const CipherKey& key, std::string_view clear, std::string& text);
// On failure `clear` is left untouched.
CipherStatus DecryptText(const CipherKey& key, std::string_view text, std::string& clear);

// The same with the key of the key store: encryption makes the key on first use,
// decryption only reads it.
CipherStatus EncryptWithStoredKey(std::string_view clear, std::string& text);
CipherStatus DecryptWithStoredKey(std::string_view text, std::string& clear);

}  // namespace vemtu::cipher
