#include "driver/posting_cycle.h"

#include <string_view>

#include "driver/agent_process.h"
#include "driver/configuration.h"
#include "driver/run_checks.h"
#include "log/log_writer.h"
#include "platform/agent_folder.h"
#include "platform/dir_search.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "posting/dispatch_post.h"
#include "posting/packed_copy.h"
#include "posting/post_matching_files.h"
#include "posting/routing_table.h"
#include "posting/run_record.h"
#include "transport/winhttp_connect.h"

namespace vemtu {

namespace {

// One step of a pattern pass: its patterns, posted to the primary site in this order,
// then to the secondary site.
struct PassStep {
  const char* patterns[2];  // the second may be null
  int pack_flag;
};

// AlertTkt and ATPostLogs.
constexpr PassStep kAlertSteps[] = {
    {{"\\*_N_*.txt?", "\\*_N_*.xml?"}, 0},
    {{"\\*_Y_*.txt?", "\\*_Y_*.xml?"}, 1},
    {{"\\*_N_*.txt", "\\*_N_*.xml"}, 0},
    {{"\\*_Y_*.txt", "\\*_Y_*.xml"}, 1},
    {{"\\*.*", nullptr}, 0},
};

constexpr PassStep kStatusSteps[] = {
    {{"\\*.txt?", "\\*.out?"}, 1},
    {{"\\*.txt", "\\*.out"}, 1},
    {{"\\*.*", nullptr}, 1},
};

constexpr std::size_t kListingFailureLimit = 3;

void Post(PostingSession& session, const RoutingTable& routing, const std::string& pattern,
          const std::string& url, int pack_flag) {
  if (url.empty()) return;
  PostMatchingFiles(session, routing, session.ctx.category_folder.str(), pattern, url, pack_flag);
}

void PriorityPass(PostingSession& session, RoutingTable& routing) {
  RunContext& ctx = session.ctx;
  std::string name;
  while (routing.PopPriorityName(name)) {
    // A name too long for its pattern is passed over; its files go with the patterns.
    if (name.empty() || name.size() > kPriorityNameLimit) continue;
    const std::string pattern = platform::NativePath("\\tfr_") + name + "*.*";
    if (const RoutingEntry* entry = routing.FindRoutingEntry(name)) {
      if (entry->url1[0] == '\0' || entry->url2[0] != '\0') continue;
      Post(session, routing, pattern, entry->url1, 0);
    } else {
      Post(session, routing, pattern, ctx.primary_site_url.str(), 0);
      Post(session, routing, pattern, ctx.secondary_site_url.str(), 0);
    }
  }
}

template <std::size_t N>
void PatternPasses(PostingSession& session, const RoutingTable& routing,
                   const PassStep (&steps)[N]) {
  const RunContext& ctx = session.ctx;
  for (const PassStep& step : steps) {
    for (const std::string& url : {ctx.primary_site_url.str(), ctx.secondary_site_url.str()}) {
      for (const char* pattern : step.patterns) {
        if (pattern) Post(session, routing, platform::NativePath(pattern), url, step.pack_flag);
      }
    }
  }
}

// Deletes the file at `path` when it is a packed copy the agent could have made (still
// the file that was read); any other file (a writer's own archive or text) stays, with a
// line in `log`.
void DeletePackedCopy(const platform::AgentFolder& agent, const std::string& path,
                      const std::string& log) {
  platform::File file = agent.Open(path, platform::OpenMode::kReadExisting);
  if (!file.IsOpen()) return;
  if (!IsPackedCopy(file)) {
    if (!log.empty()) {
      WriteLogEntry(log, kEventProgress, 0, "ERR: File is not a packed copy, left alone",
                    LoggablePath(path).c_str());
    }
    return;
  }
  const platform::FileIdentity read = file.IdentityAtOpen();
  file.Close();
  agent.SetAttributesNormal(path);
  agent.DeleteIfUnchanged(path, read);
}

void DeleteMatching(const platform::AgentFolder& agent, const std::string& folder,
                    const std::string& pattern, const std::string& log, int depth) {
  // A path at its limit, or a folder nested beyond reason (links looping back), ends
  // the descent.
  constexpr int kDepthLimit = 64;
  const std::string search = folder + pattern;
  if (search.size() > kPathCapacity - 1 || depth > kDepthLimit) return;
  platform::DirSearch listing;
  platform::DirEntry entry;
  std::size_t failures = 0;
  for (platform::SearchStep step = agent.First(listing, search, entry);
       step != platform::SearchStep::kNoMore; step = listing.Next(entry)) {
    if (step == platform::SearchStep::kFailed) {
      if (++failures >= kListingFailureLimit) return;
      continue;
    }
    failures = 0;
    // A link is never followed into, nor removed: it may name something outside; nor is
    // a name that would spell another path.
    if (entry.name == "." || entry.name == ".." || entry.is_link || entry.unusable_name) continue;
    // Windows also matches a pattern against short 8.3 names, so "*.zip" would find a
    // result file "X.zip1"; only the long name counts.
    if (!platform::WildcardMatch(pattern.substr(1), entry.name)) continue;
    const std::string path = folder + platform::kPathSeparator + entry.name;
    if (path.size() > kPathCapacity - 1) continue;
    if (entry.is_directory) {
      DeleteMatching(agent, path, pattern, log, depth + 1);
    } else {
      DeletePackedCopy(agent, path, log);
    }
  }
}

}  // namespace

void DeleteMatchingFiles(const std::string& folder, const std::string& pattern,
                         const platform::AgentFolder& agent, const std::string& log) {
  DeleteMatching(agent, folder, pattern, log, 0);
}

void RunCategoryWork(PostingSession& session, RoutingTable& routing) {
  RunContext& ctx = session.ctx;
  const std::string_view category = ctx.category.view();
  if (EqualsIgnoreCase(category, "AlertTkt") || EqualsIgnoreCase(category, "ATPostLogs")) {
    PriorityPass(session, routing);
    PatternPasses(session, routing, kAlertSteps);
  } else if (EqualsIgnoreCase(category, "Status")) {
    PriorityPass(session, routing);
    PatternPasses(session, routing, kStatusSteps);
  } else if (EqualsIgnoreCase(category, "Configuration")) {
    AdvanceConfigCycles(ctx, ctx.config_ini_path.str());
  }
}

void RunPostingCycle(RunContext& ctx, RoutingTable& routing) {
  // The process-wide WinHTTP connection lives to the end of the run.
  CZWinHTTPConnect winhttp;
  ctx.winhttp_available = winhttp.ZLoadWinHttp() == 1;
  if (!ctx.winhttp_available) {
    WriteLogEntry(ctx.run_log_path.str(), kEventProgress, 0, "ERR: Unable to load Win Http Dll");
  }
  winhttp.ZReadWriteDataSettings(ctx.config_ini_path.str());
  DeleteMatchingFiles(ctx.category_folder.str(), platform::NativePath("\\*.zip"),
                      platform::FolderOrUnrooted(ctx.folder), ctx.run_log_path.str());

  if (!EqualsIgnoreCase(ctx.category.view(), "Configuration")) ReportUnworkableSetup(ctx, routing);
  PostingSession session(ctx, ctx.winhttp_available ? &winhttp : nullptr, StandardSendMethods());
  RunCategoryWork(session, routing);

  EndRunRecord(ctx);
  WriteLogEntry(ctx.run_log_path.str(), kEventProgress, 0, "MSG: Finished Web Posting");
  if (EqualsIgnoreCase(ctx.category.view(), "Status")) SpawnCategoryRun(ctx, "Configuration");
  if (EqualsIgnoreCase(ctx.category.view(), "AlertTkt")) SpawnCategoryRun(ctx, "ATPostLogs");
}

}  // namespace vemtu
