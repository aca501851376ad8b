#include "driver/run_checks.h"

#include <string>

#include "log/log_writer.h"
#include "platform/files.h"
#include "posting/post_names.h"

namespace vemtu {

namespace {

void LogProblem(const RunContext& ctx, const std::string& problem) {
  WriteLogEntry(ctx.run_log_path.str(), kEventProgress, 0, ("ERR: " + problem).c_str());
}

void CheckSite(const RunContext& ctx, const char* key, const std::string& url, bool required) {
  const std::string name = std::string("KOLTMobile.INI [DCConnURL] ") + key;
  if (url.empty()) {
    if (required) LogProblem(ctx, name + " is empty: nothing can be posted");
    return;
  }
  UrlParts parts;
  if (!SplitUrl(url, parts) || parts.host.empty() || parts.port <= 0 || parts.port > 65535)
    LogProblem(ctx,
               name + " \"" + LoggablePath(url) + "\" does not split into scheme, host and port");
}

}  // namespace

void ReportUnworkableSetup(const RunContext& ctx, const RoutingTable& routing) {
  // Without a primary site the routing entries with URLs of their own still post.
  CheckSite(ctx, "ControllerPSite", ctx.primary_site_url.str(), !routing.AnyEntryPosts());
  CheckSite(ctx, "ControllerSSite", ctx.secondary_site_url.str(), false);
  if (!platform::IsFolder(ctx.category_folder.str()))
    LogProblem(ctx, LoggablePath(ctx.category_folder.str()) + " is missing");
}

}  // namespace vemtu
