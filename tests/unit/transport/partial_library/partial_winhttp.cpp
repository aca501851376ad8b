// A WinHTTP library that ends after the request open: it exports WinHttpOpen,
// WinHttpConnect and WinHttpOpenRequest and none of the later entry points, so a binding
// of it stays incomplete. The handles it hands out are markers that nothing may close.
#include <cstdint>

#if defined(_WIN32)
#define PARTIAL_EXPORT extern "C" __declspec(dllexport)
#else
#define PARTIAL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {
char* Marker(const char* name) { return const_cast<char*>(name); }
}  // namespace

PARTIAL_EXPORT void* WinHttpOpen(const char16_t*, std::uint32_t, const char16_t*,
                                 const char16_t*, std::uint32_t) {
  return Marker("session");
}

PARTIAL_EXPORT void* WinHttpConnect(void*, const char16_t*, std::uint16_t, std::uint32_t) {
  return Marker("connection");
}

PARTIAL_EXPORT void* WinHttpOpenRequest(void*, const char16_t*, const char16_t*,
                                        const char16_t*, const char16_t*, const char16_t**,
                                        std::uint32_t) {
  return Marker("request");
}
