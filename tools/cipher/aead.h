// The crypto primitives the cipher needs, from the platform's library (OpenSSL on
// Linux, CNG on Windows).
#pragma once

#include <string>
#include <string_view>

#include "cipher_text.h"

namespace vemtu::cipher {

// Fills `size` bytes from the system's cryptographic random source.
bool FillRandom(unsigned char* bytes, std::size_t size);

// AES-256-GCM without associated data.
bool SealAesGcm(const CipherKey& key, const unsigned char* nonce, std::string_view clear,
                std::string& sealed, unsigned char* tag);

enum class OpenResult {
  kOpened,    // authentic; `clear` holds the text
  kRejected,  // the tag does not match
  kFailed,    // the library failed
};
OpenResult OpenAesGcm(const CipherKey& key, const unsigned char* nonce, std::string_view sealed,
                      const unsigned char* tag, std::string& clear);

}  // namespace vemtu::cipher
