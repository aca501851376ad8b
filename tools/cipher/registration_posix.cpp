#include <filesystem>

#include "platform/paths.h"
#include "platform/posix/component_abi.h"
#include "platform/profile.h"
#include "registration.h"

namespace vemtu::cipher {

bool RegisterComponent(bool add, const std::string& registry, std::string& where) {
  std::string path = registry.empty() ? platform::ComponentRegistryPath() : registry;
  std::filesystem::path library =
      std::filesystem::path(platform::ExecutablePath()).parent_path() / "xmlcipher.so";
  std::error_code ignored;
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, ignored);
  where = path;
  return platform::WriteProfileText(path, "XMLCipher.clsCipher", platform::kComponentLibraryKey,
                                    add ? library.string() : std::string());
}

}  // namespace vemtu::cipher
