// The cipher as an in-process COM server, registered under "XMLCipher.clsCipher" by
// regsvr32. Its automation interface is dual: the vtable methods EncryptText and
// DecryptText (own methods 1 and 2) and the same two through IDispatch::Invoke.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#include <atomic>
#include <new>
#include <string>

#include "cipher_text.h"
#include "platform/component_utf16.h"
#include "platform/win32/component_ids.h"

namespace {

using vemtu::platform::ICipherText;
using vemtu::platform::kCipherClassId;
using vemtu::platform::kCipherInterfaceId;
using vemtu::platform::kDispIdDecryptText;
using vemtu::platform::kDispIdEncryptText;

constexpr wchar_t kProgId[] = L"XMLCipher.clsCipher";
constexpr wchar_t kDescription[] = L"clsCipher";

// Objects and server locks alive; the DLL may be unloaded only at zero.
std::atomic<long> g_module_users{0};

// Errors of the interface: FACILITY_ITF codes carrying the cipher status.
HRESULT CipherError(vemtu::cipher::CipherStatus status) {
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0200 + static_cast<int>(status));
}

// Runs one cipher method on a BSTR; on failure *answer stays null.
HRESULT RunCipher(int method, BSTR in, BSTR* answer) {
  using namespace vemtu::cipher;
  if (!answer) return E_POINTER;
  *answer = nullptr;
  try {
    std::u16string wide_in(reinterpret_cast<const char16_t*>(in ? in : L""), SysStringLen(in));
    std::string text;
    if (!vemtu::platform::Utf16ToUtf8(wide_in, text)) return E_INVALIDARG;
    std::string result;
    CipherStatus status = method == kDispIdEncryptText ? EncryptWithStoredKey(text, result)
                                                       : DecryptWithStoredKey(text, result);
    if (status != CipherStatus::kOk) return CipherError(status);
    std::u16string wide_out;
    if (!vemtu::platform::Utf8ToUtf16(result, wide_out)) return E_FAIL;
    *answer = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide_out.data()),
                                static_cast<UINT>(wide_out.size()));
    return *answer ? S_OK : E_OUTOFMEMORY;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

class CipherObject final : public ICipherText {
 public:
  CipherObject() { ++g_module_users; }
  ~CipherObject() { --g_module_users; }

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, kCipherInterfaceId)) {
      *out = static_cast<ICipherText*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    long left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch, without a type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (lstrcmpiW(names[0], L"EncryptText") == 0) ids[0] = kDispIdEncryptText;
    else if (lstrcmpiW(names[0], L"DecryptText") == 0) ids[0] = kDispIdDecryptText;
    else hr = DISP_E_UNKNOWNNAME;
    // The methods have no named arguments.
    if (count > 1) hr = DISP_E_UNKNOWNNAME;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT* arg_error) override {
    if (id != kDispIdEncryptText && id != kDispIdDecryptText) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    VARIANT text;
    VariantInit(&text);
    if (FAILED(VariantChangeType(&text, &params->rgvarg[0], 0, VT_BSTR))) {
      if (arg_error) *arg_error = 0;
      return DISP_E_TYPEMISMATCH;
    }
    BSTR answer = nullptr;
    HRESULT hr = RunCipher(id, V_BSTR(&text), &answer);
    VariantClear(&text);
    if (FAILED(hr)) return hr;
    if (result) {
      VariantInit(result);
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = answer;
    } else {
      SysFreeString(answer);
    }
    return S_OK;
  }

  // Own methods.
  HRESULT STDMETHODCALLTYPE EncryptText(BSTR clear_text, BSTR* enciphered) override {
    return RunCipher(kDispIdEncryptText, clear_text, enciphered);
  }
  HRESULT STDMETHODCALLTYPE DecryptText(BSTR enciphered, BSTR* clear_text) override {
    return RunCipher(kDispIdDecryptText, enciphered, clear_text);
  }

 private:
  std::atomic<long> references_{1};
};

class CipherFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static: its references do not count.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CipherObject;
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) ++g_module_users;
    else --g_module_users;
    return S_OK;
  }
};

CipherFactory g_factory;

std::wstring ClassIdText() {
  wchar_t text[64];
  int n = StringFromGUID2(kCipherClassId, text, 64);
  return n > 0 ? std::wstring(text) : std::wstring();
}

std::wstring ModulePath() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ClassIdText), &self)) {
    return {};
  }
  wchar_t path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(self, path, static_cast<DWORD>(sizeof path / sizeof path[0]));
  return n > 0 && n < sizeof path / sizeof path[0] ? std::wstring(path, n) : std::wstring();
}

// Writes the default value (or `name`) of HKCR\`key`, creating the key.
bool SetClassValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG result = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                               static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

STDAPI DllGetClassObject(REFCLSID class_id, REFIID iid, LPVOID* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(class_id, kCipherClassId)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() { return g_module_users.load() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  std::wstring class_id = ClassIdText();
  std::wstring module = ModulePath();
  if (class_id.empty() || module.empty()) return SELFREG_E_CLASS;
  std::wstring class_key = L"CLSID\\" + class_id;
  bool ok = SetClassValue(kProgId, nullptr, kDescription) &&
            SetClassValue(std::wstring(kProgId) + L"\\CLSID", nullptr, class_id) &&
            SetClassValue(class_key, nullptr, kDescription) &&
            SetClassValue(class_key + L"\\ProgID", nullptr, kProgId) &&
            SetClassValue(class_key + L"\\InprocServer32", nullptr, module) &&
            SetClassValue(class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
  return ok ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
  std::wstring class_id = ClassIdText();
  if (class_id.empty()) return SELFREG_E_CLASS;
  LONG a = RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + class_id).c_str());
  LONG b = RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
  bool ok = (a == ERROR_SUCCESS || a == ERROR_FILE_NOT_FOUND) &&
            (b == ERROR_SUCCESS || b == ERROR_FILE_NOT_FOUND);
  return ok ? S_OK : SELFREG_E_CLASS;
}
