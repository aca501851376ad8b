#include "agent_setup.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace vemtu::check {

const char* const kPostingCategories[3] = {"AlertTkt", "Status", "ATPostLogs"};

AgentSetup::AgentSetup(const std::string& agent_folder) : folder(agent_folder) {
  while (folder.size() > 1 && folder.back() == platform::kPathSeparator) folder.pop_back();
  StartupPaths paths = BuildExecutablePaths(ctx, folder + platform::kPathSeparator + "Vemtu.EXE");
  BuildCategoryPaths(ctx, paths, CategoryOfTableWord("AlertTkt"));
  config_dir = paths.config_dir;
  log_dir = Path({"ApplicationLog", "WebPost", "WebPostExe"});
  values = ReadAgentIniValues(ctx.agent_ini_path.str());
  ctx.registration_id = Value("DCRegId");
  ctx.member_id = Value("MemberId");
  ctx.site_id = Value("SiteId");
  ctx.agent_type = Value("AgentType");
  ctx.primary_site_url = Value("ControllerPSite");
  ctx.secondary_site_url = Value("ControllerSSite");
  ctx.proxy_address = Value("ProxyIP");
  ctx.proxy_port = Value("ProxyPort");
}

std::string AgentSetup::Value(const char* key) const {
  for (const auto& v : values)
    if (std::strcmp(v.key, key) == 0) return v.value;
  return {};
}

std::string AgentSetup::Path(std::initializer_list<const char*> parts) const {
  std::string path = folder;
  for (const char* part : parts) path += platform::kPathSeparator + std::string(part);
  return path;
}

std::string OwnFolder() {
  std::string exe = platform::ExecutablePath();
  std::size_t cut = platform::FindCharacter(exe, platform::kPathSeparator, platform::Occurrence::kLast);
  return cut == std::string::npos ? std::string(".") : exe.substr(0, cut);
}

std::string AgentVersion(const std::string& path) {
  static const std::string kMark = "VEMTU-AGENT-VERSION=";
  constexpr std::size_t kLongestVersion = 32;
  constexpr long long kLargestAgent = 256ll << 20;
  platform::File file = platform::File::Open(path, platform::OpenMode::kReadExisting);
  if (!file.IsOpen() || file.SizeAtOpen() > kLargestAgent) return {};
  // Read in blocks that overlap by a mark and a version, so none is split unseen.
  std::vector<char> block(1 << 20);
  std::string carried;
  long long got;
  while ((got = file.Read(block.data(), block.size())) > 0) {
    std::string text = carried + std::string(block.data(), static_cast<std::size_t>(got));
    std::size_t at = text.find(kMark);
    if (at != std::string::npos && text.find('\0', at) != std::string::npos) {
      std::string version = text.substr(at + kMark.size());
      return version.substr(0, std::min(version.find('\0'), kLongestVersion));
    }
    const std::size_t keep = kMark.size() + kLongestVersion;
    carried = text.size() > keep ? text.substr(text.size() - keep) : text;
  }
  return {};
}

}  // namespace vemtu::check
