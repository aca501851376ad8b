// The cipher as a Linux component library: the entries the agent resolves after finding
// this library in the component registry. Own method 1 enciphers, method 2 deciphers.
#include <new>
#include <string>

#include "cipher_text.h"
#include "platform/component_utf16.h"
#include "platform/posix/component_abi.h"

namespace {

// The key is read at each call, so a key made after the object was created counts.
struct CipherObject {};

}  // namespace

#define VEMTU_EXPORT extern "C" __attribute__((visibility("default")))

VEMTU_EXPORT int vemtu_component_create(void** object) {
  if (!object) return 1;
  *object = new (std::nothrow) CipherObject;
  return *object ? 0 : 1;
}

VEMTU_EXPORT int vemtu_component_call_text(void* object, int method, const char16_t* in,
                                           std::size_t in_len, char16_t** out,
                                           std::size_t* out_len) {
  using namespace vemtu::cipher;
  if (!object || !out || !out_len || (!in && in_len) || (method != 1 && method != 2)) return 1;
  try {
    std::string text;
    if (!vemtu::platform::Utf16ToUtf8(std::u16string_view(in ? in : u"", in_len), text)) return 1;
    std::string answer;
    CipherStatus status = method == 1 ? EncryptWithStoredKey(text, answer)
                                      : DecryptWithStoredKey(text, answer);
    std::u16string wide;
    if (status != CipherStatus::kOk || !vemtu::platform::Utf8ToUtf16(answer, wide)) return 1;
    auto* copy = new char16_t[wide.size() + 1];
    wide.copy(copy, wide.size());
    copy[wide.size()] = u'\0';
    *out = copy;
    *out_len = wide.size();
    return 0;
  } catch (...) {
    return 1;
  }
}

VEMTU_EXPORT void vemtu_component_free_text(char16_t* text) { delete[] text; }

VEMTU_EXPORT void vemtu_component_release(void* object) {
  delete static_cast<CipherObject*>(object);
}
