// Windows components: COM objects created by ProgID from in-process servers only (a DLL
// loaded into the agent, never a server process another user may have registered), started
// with OleRun and called through their automation interface with BSTRs.
#include "platform/component.h"

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <optional>
#include <utility>

#include "platform/win32/component_ids.h"
#include "platform/win32/long_path.h"

namespace vemtu::platform {

namespace {

// Frees a BSTR when the owner goes out of scope.
class BstrHolder {
 public:
  explicit BstrHolder(BSTR text = nullptr) : text_(text) {}
  ~BstrHolder() { SysFreeString(text_); }
  BstrHolder(const BstrHolder&) = delete;
  BstrHolder& operator=(const BstrHolder&) = delete;
  BSTR get() const { return text_; }
  BSTR* receive() { return &text_; }

 private:
  BSTR text_;
};

}  // namespace

ComponentRuntime::ComponentRuntime() : ready_(SUCCEEDED(CoInitialize(nullptr))) {}

ComponentRuntime::~ComponentRuntime() {
  // Only a successful initialisation (S_OK or S_FALSE) is balanced by an uninitialisation.
  if (ready_) CoUninitialize();
}

ComponentObject ComponentObject::Create(const std::string& name, ComponentStatus& status) {
  ComponentObject result;
  std::wstring wide_name = win32_detail::WideFromAnsi(name).value_or(std::wstring());
  CLSID class_id;
  HRESULT hr = !wide_name.empty() && wide_name[0] == L'{'
                   ? CLSIDFromString(wide_name.c_str(), &class_id)
                   : CLSIDFromProgID(wide_name.c_str(), &class_id);
  if (FAILED(hr)) {
    status = ComponentStatus::kNameUnknown;
    return result;
  }
  // Ask for IUnknown, start the object with OleRun, and only then ask for the automation
  // interface.
  IUnknown* unknown = nullptr;
  hr = CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                        reinterpret_cast<void**>(&unknown));
  if (FAILED(hr) || !unknown) {
    status = ComponentStatus::kCreateFailed;
    return result;
  }
  hr = OleRun(unknown);
  if (FAILED(hr)) {
    unknown->Release();
    status = ComponentStatus::kStartFailed;
    return result;
  }
  ICipherText* face = nullptr;
  hr = unknown->QueryInterface(kCipherInterfaceId, reinterpret_cast<void**>(&face));
  unknown->Release();
  if (FAILED(hr) || !face) {
    status = ComponentStatus::kInterfaceMissing;
    return result;
  }
  result.object_ = face;
  status = ComponentStatus::kCreated;
  return result;
}

TextCallOutcome ComponentObject::CallTextMethod(int method, const std::string& in,
                                                std::string& out) {
  if (!object_ || (method != 1 && method != 2)) return TextCallOutcome::kFailed;
  auto* face = static_cast<ICipherText*>(object_);
  std::optional<std::wstring> wide = win32_detail::WideFromAnsi(in);
  if (!wide) return TextCallOutcome::kFailed;
  BstrHolder argument(SysAllocStringLen(wide->data(), static_cast<UINT>(wide->size())));
  if (!argument.get()) return TextCallOutcome::kFailed;
  BstrHolder answer;
  HRESULT hr = method == 1 ? face->EncryptText(argument.get(), answer.receive())
                           : face->DecryptText(argument.get(), answer.receive());
  if (FAILED(hr)) return TextCallOutcome::kFailed;
  // A character the code page lacks would otherwise become a look-alike or "?": a
  // password that is not the one typed.
  std::optional<std::string> narrow =
      win32_detail::ExactAnsi(std::wstring(answer.get(), SysStringLen(answer.get())));
  if (!narrow) return TextCallOutcome::kAnswerNotInCodePage;
  out.swap(*narrow);
  return TextCallOutcome::kAnswered;
}

void ComponentObject::Release() {
  if (auto* face = static_cast<ICipherText*>(std::exchange(object_, nullptr))) face->Release();
  binding_ = nullptr;
}

}  // namespace vemtu::platform
