// Moving a file to a name that no other file has: the planned name, or the planned name
// followed by "." and the lowest free number.
#include "platform/agent_folder.h"
#include "platform/files.h"

namespace vemtu::platform {

namespace {

// How many numbered names are tried before the move is given up (the file stays).
constexpr int kFreeNameTries = 9999;

}  // namespace

std::string MoveToFreeName(const std::string& from, const std::string& planned,
                           std::size_t max_chars) {
  return FolderOrUnrooted(nullptr).MoveToFreeName(from, planned, max_chars);
}

std::string AgentFolder::MoveToFreeName(const std::string& from, const std::string& planned,
                                        std::size_t max_chars) const {
  std::string target = planned;
  for (int number = 1; number <= kFreeNameTries + 1; ++number) {
    if (target.size() > max_chars) return {};
    switch (MoveNoReplace(from, target)) {
      case MoveOutcome::kMoved:
        return target;
      case MoveOutcome::kFailed:
        return {};
      case MoveOutcome::kExists:
        break;
    }
    target = planned + "." + std::to_string(number);
  }
  return {};
}

}  // namespace vemtu::platform
