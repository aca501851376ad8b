// Libraries bound at run time through LoadLibraryA and GetProcAddress.
#include "platform/library.h"

#include <windows.h>

namespace vemtu::platform {

Library::~Library() { Unload(); }

Library::Library(Library&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

Library& Library::operator=(Library&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

Library Library::Load(const std::string& name) {
  Library library;
  library.handle_ = reinterpret_cast<void*>(LoadLibraryA(name.c_str()));
  return library;
}

bool Library::IsLoaded() const { return handle_ != nullptr; }

void* Library::Resolve(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Library::Unload() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

}  // namespace vemtu::platform
