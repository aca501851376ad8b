// Where the cipher's key lives. It is never part of a binary: it is made on first use
// from the system's random source and kept in a file only its owner may read.
//   Linux:   $VEMTU_CIPHER_KEY, else /etc/vemtu/cipher.key when that exists or when
//            running as root, else ~/.config/vemtu/cipher.key; 32 raw bytes, mode 0600
//            (a key file that group or others may read is refused).
//   Windows: %VEMTU_CIPHER_KEY%, else %ProgramData%\Vemtu\cipher.key; the key protected
//            with machine-scope DPAPI, so only this machine can unprotect it.
#pragma once

#include <string>

#include "cipher_text.h"

namespace vemtu::cipher {

// The key file this process uses.
std::string KeyFilePath();

// Reads the key file at `path` (UTF-8); kNoKey when it does not exist.
CipherStatus ReadKeyFile(const std::string& path, CipherKey& key);
// Makes a new key file at `path` unless one appears there first.
CipherStatus CreateKeyFile(const std::string& path);

// Reads the key; kNoKey when the file does not exist.
CipherStatus LoadKey(CipherKey& key);
// Reads the key, making it first when the file does not exist. Two processes making it
// at once end up with the same key: the file appears whole or not at all.
CipherStatus LoadOrCreateKey(CipherKey& key);

}  // namespace vemtu::cipher
