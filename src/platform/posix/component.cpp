// Linux components: the registry INI maps a component name to a shared library, which
// is loaded for each object and exports the entries of component_abi.h.
#include "platform/component.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/component_utf16.h"
#include "platform/paths.h"
#include "platform/posix/component_abi.h"
#include "platform/profile.h"

namespace vemtu::platform {

namespace {

constexpr std::size_t kLibraryPathMaxChars = 4095;

struct Binding {
  void* library = nullptr;
  VemtuComponentCreate create = nullptr;
  VemtuComponentCallText call_text = nullptr;
  VemtuComponentFreeText free_text = nullptr;
  VemtuComponentRelease release = nullptr;

  ~Binding() {
    if (library) dlclose(library);
  }
};

// The library registered for `name`, made absolute against the registry's folder.
std::string RegisteredLibrary(const std::string& name) {
  std::string registry = ComponentRegistryPath();
  std::string library = GetProfileText(registry, name, kComponentLibraryKey, "", kLibraryPathMaxChars);
  if (library.empty() || library[0] == '/') return library;
  std::size_t slash = registry.rfind('/');
  return slash == std::string::npos ? library : registry.substr(0, slash + 1) + library;
}

template <typename Entry>
bool ResolveEntry(void* library, const char* name, Entry& entry) {
  entry = reinterpret_cast<Entry>(dlsym(library, name));
  return entry != nullptr;
}

}  // namespace

std::string ComponentRegistryPath() {
  const char* path = std::getenv(kComponentRegistryVariable);
  if (path && *path) return path;
  std::string exe = ExecutablePath();
  std::string beside = exe.substr(0, exe.rfind('/') + 1) + kFolderComponentRegistry;
  if (!exe.empty() && access(beside.c_str(), F_OK) == 0) return beside;
  return kDefaultComponentRegistry;
}

ComponentRuntime::ComponentRuntime() : ready_(true) {}
ComponentRuntime::~ComponentRuntime() = default;

ComponentObject ComponentObject::Create(const std::string& name, ComponentStatus& status) {
  ComponentObject result;
  std::string path = RegisteredLibrary(name);
  if (path.empty()) {
    status = ComponentStatus::kNameUnknown;
    return result;
  }
  auto binding = std::make_unique<Binding>();
  binding->library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!binding->library) {
    status = ComponentStatus::kCreateFailed;
    return result;
  }
  if (!ResolveEntry(binding->library, kComponentCreateEntry, binding->create) ||
      !ResolveEntry(binding->library, kComponentCallTextEntry, binding->call_text) ||
      !ResolveEntry(binding->library, kComponentFreeTextEntry, binding->free_text) ||
      !ResolveEntry(binding->library, kComponentReleaseEntry, binding->release)) {
    status = ComponentStatus::kInterfaceMissing;
    return result;
  }
  void* object = nullptr;
  if (binding->create(&object) != 0 || object == nullptr) {
    status = ComponentStatus::kCreateFailed;
    return result;
  }
  result.object_ = object;
  result.binding_ = binding.release();
  status = ComponentStatus::kCreated;
  return result;
}

TextCallOutcome ComponentObject::CallTextMethod(int method, const std::string& in, std::string& out) {
  if (!object_) return TextCallOutcome::kFailed;
  // The system code page is UTF-8 here.
  std::u16string wide_in;
  if (!Utf8ToUtf16(in, wide_in)) return TextCallOutcome::kFailed;
  auto* binding = static_cast<Binding*>(binding_);
  char16_t* wide_out = nullptr;
  std::size_t wide_out_len = 0;
  if (binding->call_text(object_, method, wide_in.c_str(), wide_in.size(), &wide_out,
                         &wide_out_len) != 0) {
    return TextCallOutcome::kFailed;
  }
  std::string narrow;
  bool converted = Utf16ToUtf8(
      wide_out ? std::u16string_view(wide_out, wide_out_len) : std::u16string_view(), narrow);
  if (wide_out) binding->free_text(wide_out);
  if (!converted) return TextCallOutcome::kFailed;
  out.swap(narrow);
  return TextCallOutcome::kAnswered;
}

void ComponentObject::Release() {
  auto* binding = static_cast<Binding*>(std::exchange(binding_, nullptr));
  void* object = std::exchange(object_, nullptr);
  if (binding && object) binding->release(object);
  delete binding;
}

}  // namespace vemtu::platform
