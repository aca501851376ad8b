// Cipher texts and component texts from arbitrary bytes. Decryption must refuse cleanly
// (only a text made with the key opens, and a failure leaves the output alone); a text
// that converts to UTF-16 converts back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cipher_text.h"
#include "platform/component_utf16.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vemtu;
  const std::string input(reinterpret_cast<const char*>(data), size);
  cipher::CipherKey key;
  key.fill(0x5A);

  std::string clear = "untouched";
  cipher::CipherStatus status = cipher::DecryptText(key, input, clear);
  if (status != cipher::CipherStatus::kOk && clear != "untouched") std::abort();

  // A text made here opens to the same bytes; the fuzzed bytes as clear text.
  std::string text, opened;
  if (cipher::EncryptText(key, input, text) != cipher::CipherStatus::kOk) std::abort();
  if (cipher::DecryptText(key, text, opened) != cipher::CipherStatus::kOk || opened != input) {
    std::abort();
  }

  std::u16string wide;
  if (platform::Utf8ToUtf16(input, wide)) {
    std::string back;
    if (!platform::Utf16ToUtf8(wide, back) || back != input) std::abort();
  }
  // The same bytes read as UTF-16 units.
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  }
  std::string narrow;
  if (platform::Utf16ToUtf8(units, narrow)) {
    std::u16string again;
    if (!platform::Utf8ToUtf16(narrow, again) || again != units) std::abort();
  }
  return 0;
}
