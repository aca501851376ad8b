#include <filesystem>

#include "platform/paths.h"
#include "platform/posix/component_abi.h"
#include "platform/profile.h"
#include "registration.h"

namespace vemtu::cipher {

bool RegisterComponent(bool add, const std::string& registry, std::string& where) {
  namespace fs = std::filesystem;
  std::string path = registry.empty() ? platform::ComponentRegistryPath() : registry;
  fs::path library = fs::path(platform::ExecutablePath()).parent_path() / "xmlcipher.so";
  fs::path folder = fs::path(path).parent_path();
  std::error_code error;
  where = path;
  if (!add) {
    // Unregistering must not leave behind a registry that was never there.
    if (!fs::exists(path, error)) {
      where = path + " does not exist: nothing to unregister";
      return false;
    }
    return platform::WriteProfileText(path, "XMLCipher.clsCipher", platform::kComponentLibraryKey,
                                      std::string());
  }
  if (!folder.empty()) fs::create_directories(folder, error);
  // A registry beside the library names it relative to itself, so that the folder can be
  // moved or copied as a whole.
  fs::path here = fs::weakly_canonical(folder.empty() ? fs::path(".") : folder, error);
  bool beside = !error && here == fs::weakly_canonical(library.parent_path(), error) && !error;
  return platform::WriteProfileText(path, "XMLCipher.clsCipher", platform::kComponentLibraryKey,
                                    beside ? library.filename().string() : library.string());
}

}  // namespace vemtu::cipher
