// Libraries bound at run time. A Windows library name maps to the stand-in built here:
// "WinHttp.dll" -> "libWinHttp.so", looked for beside the executable first, then along
// the usual search path.
#include "platform/library.h"

#include <dlfcn.h>
#include <errno.h>

#include "common/fixed_text.h"
#include "platform/paths.h"

namespace vemtu::platform {
namespace {

std::string StandInName(const std::string& name) {
  constexpr std::string_view kDll = ".dll";
  if (name.size() > kDll.size() &&
      EqualsIgnoreCase(std::string_view(name).substr(name.size() - kDll.size()), kDll)) {
    return "lib" + name.substr(0, name.size() - kDll.size()) + ".so";
  }
  return name;
}

}  // namespace

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
  std::string file = StandInName(name);
  if (file.empty()) {
    errno = ENOENT;
    return library;
  }
  std::string exe = ExecutablePath();
  std::size_t cut = exe.rfind('/');
  if (file.find('/') == std::string::npos && cut != std::string::npos) {
    library.handle_ = dlopen((exe.substr(0, cut + 1) + file).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (!library.handle_) library.handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library.handle_) errno = ENOENT;  // as a module that cannot be found
  return library;
}

bool Library::IsLoaded() const { return handle_ != nullptr; }

void* Library::Resolve(const char* name) const {
  if (!handle_ || !name) return nullptr;
  return dlsym(handle_, name);
}

void Library::Unload() {
  if (handle_) {
    dlclose(handle_);
    handle_ = nullptr;
  }
}

}  // namespace vemtu::platform
