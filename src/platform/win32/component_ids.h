// The text component's class id and its automation interface: a dual interface whose
// two own methods follow the seven of IDispatch. Shared by the agent's client and the
// in-process server built beside the agent.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace vemtu::platform {

// {16B1AF0D-6A5A-4D62-92E2-6B3A0643275D}
inline constexpr CLSID kCipherClassId = {
    0x16b1af0d, 0x6a5a, 0x4d62, {0x92, 0xe2, 0x6b, 0x3a, 0x06, 0x43, 0x27, 0x5d}};
// {9775EB32-FDD6-41D2-8C67-20E0EDCB9BDD}
inline constexpr IID kCipherInterfaceId = {
    0x9775eb32, 0xfdd6, 0x41d2, {0x8c, 0x67, 0x20, 0xe0, 0xed, 0xcb, 0x9b, 0xdd}};

// Dispatch ids of the two own methods, for script clients.
constexpr DISPID kDispIdEncryptText = 1;
constexpr DISPID kDispIdDecryptText = 2;

struct ICipherText : public IDispatch {
  // Own method 1: clear text in, enciphered text out.
  virtual HRESULT STDMETHODCALLTYPE EncryptText(BSTR clear_text, BSTR* enciphered) = 0;
  // Own method 2: enciphered text in, clear text out.
  virtual HRESULT STDMETHODCALLTYPE DecryptText(BSTR enciphered, BSTR* clear_text) = 0;
};

}  // namespace vemtu::platform
