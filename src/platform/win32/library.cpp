// Libraries bound at run time through LoadLibraryExA and GetProcAddress. A bare name is
// looked for in the system folder only: the agent folder, the current folder and PATH
// are places where someone else may have put a library of that name.
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
  // A name with a folder is loaded from there; what it needs comes from the system folder.
  const bool has_folder = name.find_first_of("\\/") != std::string::npos;
  const DWORD search = has_folder ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                                  : LOAD_LIBRARY_SEARCH_SYSTEM32;
  library.handle_ = reinterpret_cast<void*>(LoadLibraryExA(name.c_str(), nullptr, search));
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
