#include "agent_folder.h"

#include <cstring>

#include "platform/paths.h"

namespace vemtu::check {

const char* const kPostingCategories[3] = {"AlertTkt", "Status", "ATPostLogs"};

AgentFolder::AgentFolder(const std::string& agent_folder) : folder(agent_folder) {
  while (folder.size() > 1 && folder.back() == platform::kPathSeparator) folder.pop_back();
  StartupPaths paths = BuildExecutablePaths(ctx, folder + platform::kPathSeparator + "Vemtu.EXE");
  BuildCategoryPaths(ctx, paths, "AlertTkt");
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

std::string AgentFolder::Value(const char* key) const {
  for (const auto& v : values)
    if (std::strcmp(v.key, key) == 0) return v.value;
  return {};
}

std::string AgentFolder::Path(std::initializer_list<const char*> parts) const {
  std::string path = folder;
  for (const char* part : parts) path += platform::kPathSeparator + std::string(part);
  return path;
}

std::string OwnFolder() {
  std::string exe = platform::ExecutablePath();
  std::size_t cut = platform::LastSeparator(exe);
  return cut == std::string::npos ? std::string(".") : exe.substr(0, cut);
}

}  // namespace vemtu::check
