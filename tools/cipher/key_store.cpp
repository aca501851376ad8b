#include "key_store.h"

namespace vemtu::cipher {

CipherStatus LoadKey(CipherKey& key) { return ReadKeyFile(KeyFilePath(), key); }

CipherStatus LoadOrCreateKey(CipherKey& key) {
  std::string path = KeyFilePath();
  CipherStatus status = ReadKeyFile(path, key);
  if (status != CipherStatus::kNoKey) return status;
  status = CreateKeyFile(path);
  return status == CipherStatus::kOk ? ReadKeyFile(path, key) : status;
}

}  // namespace vemtu::cipher
