// Folder creation along a whole path.
#include "log/log_writer.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace vemtu {

void CreateDirectoryPath(const std::string& path) {
  platform::SetAttributesNormal(path);
  // Every folder named by the text before a separator, from left to right; failures
  // (an existing folder, a drive name such as "C:", no rights) are all ignored.
  // Separators are found by character: the second byte of a two-byte character may be a
  // backslash, and a folder made at it would lie outside the path.
  const std::string_view text(path);
  for (std::size_t at = 0;;) {
    const std::size_t found = platform::FindCharacter(text.substr(at), platform::kPathSeparator,
                                                      platform::Occurrence::kFirst);
    if (found == std::string_view::npos) break;
    at += found;
    if (at > 0) platform::CreateFolder(path.substr(0, at));
    ++at;
  }
  platform::CreateFolder(path);
}

}  // namespace vemtu
