// Folder creation along a whole path.
#include "log/log_writer.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace vemtu {

void CreateDirectoryPath(const std::string& path) {
  platform::SetAttributesNormal(path);
  // Every folder named by the text before a separator, from left to right; failures
  // (an existing folder, a drive name such as "C:", no rights) are all ignored.
  for (std::size_t at = path.find(platform::kPathSeparator); at != std::string::npos;
       at = path.find(platform::kPathSeparator, at + 1)) {
    if (at > 0) platform::CreateFolder(path.substr(0, at));
  }
  platform::CreateFolder(path);
}

}  // namespace vemtu
