// What the agent folder holds: the files of each category, its run record and lock, and
// the logs, gathered into one report.
#include <algorithm>
#include <iterator>

#include "common/fixed_text.h"
#include "key_store.h"
#include "driver/agent_process.h"
#include "driver/startup.h"
#include "file_times.h"
#include "folder_state.h"
#include "platform/dir_search.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "posting/post_database.h"
#include "posting/post_names.h"
#include "posting/routing_load.h"
#include "posting/rule_files.h"
#include "posting/run_record.h"
#include "status_report.h"

namespace vemtu::check {

namespace {

// Logs grow to 2 MiB and then restart; the last write may pass that.
constexpr std::size_t kLogReadLimit = 3 * 1024 * 1024;

const std::string kSep(1, platform::kPathSeparator);

// Calls `visit` for every plain file in `folder` (no folders, no links); returns the
// number of links met.
template <typename Visit>
int ForEachFile(const std::string& folder, const char* pattern, Visit visit) {
  platform::DirSearch search;
  platform::DirEntry entry;
  int links = 0;
  for (auto step = search.First(folder + kSep + pattern, entry);
       step == platform::SearchStep::kEntry; step = search.Next(entry)) {
    links += entry.is_link;
    if (entry.is_directory || entry.is_link) continue;
    visit(entry, ReadFileTimes(folder + kSep + entry.name));
  }
  return links;
}

// A log's kept generation ("X.log.1") and then the log itself, as one run of lines.
std::vector<LogEntry> ReadLogGenerations(const std::string& path) {
  std::vector<LogEntry> entries = ParseLogText(ReadLogTail(path + ".1", kLogReadLimit));
  std::vector<LogEntry> current = ParseLogText(ReadLogTail(path, kLogReadLimit));
  entries.insert(entries.end(), std::make_move_iterator(current.begin()),
                 std::make_move_iterator(current.end()));
  return entries;
}

// The routing table a run of `category` would load, read without its lock: only the
// "ig" entries matter here, and a half-written database only makes the count wrong.
RoutingTable RulesOf(const AgentSetup& agent, const std::string& category) {
  RoutingTable table;
  ReadPostDatabase(table, PostDatabasePath(agent.config_dir, category));
  if (table.empty()) {
    ReadReprioritizeRules(table, agent.config_dir + kSep + "Reprioritize.XML");
    ReadDnsSpecificRules(table, agent.config_dir + kSep + "DNSSpecific.XML");
  }
  return table;
}

// The n of a retry name ("X.xml3" is 3): the digits from the fourth character of the
// extension on; 0 for a first name.
int RetryNumber(const std::string& name) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() <= dot + 4) return 0;
  int n = 0;
  for (std::size_t i = dot + 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 1000) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

void ReadFiles(const AgentSetup& agent, StatusReport& report, CategoryStatus& c) {
  const std::string folder = agent.Path({c.name.c_str()});
  FolderState state = InspectFolder(folder);
  c.folder_exists = state.exists && !state.is_link;
  if (!c.folder_exists || !c.posts) return;
  const RoutingTable rules = RulesOf(agent, c.name);
  c.links = ForEachFile(folder, "*", [&](const platform::DirEntry& entry, const FileTimes& times) {
    const RoutingEntry* rule = rules.FindRoutingEntry(NamePrefix(entry.name));
    if (rule && rule->ig == 1 && entry.name.find('_') != std::string::npos) {
      ++c.left_by_rule;
      return;
    }
    ++c.waiting;
    c.waiting_bytes += entry.size;
    int retry = RetryNumber(entry.name);
    if (retry >= 1 && retry <= kRetryNumbers) ++c.by_retry[retry];
    if (!times.ok) return;
    if (c.oldest_written < 0 || times.written < c.oldest_written) {
      c.oldest_written = times.written;
      c.oldest_name = entry.name;
    }
    if (report.now - times.written > report.max_age) ++c.overdue;
  });
  ForEachFile(folder + kSep + "Error", "*",
              [&](const platform::DirEntry& entry, const FileTimes& times) {
                ++c.error_files;
                if (!times.ok) return;
                if (times.changed >= c.newest_error_arrived) {
                  c.newest_error_arrived = times.changed;
                  c.newest_error_name = entry.name;
                }
                if (report.now - times.changed <= report.max_age) ++c.new_errors;
              });
}

void ReadRun(const AgentSetup& agent, CategoryStatus& c) {
  const std::string ini = agent.config_dir + kSep + "Vemtu" + c.name + ".INI";
  c.recorded_pid = platform::GetProfileText(ini, kRunRecordSection, c.name + kPidSuffix, "",
                                            kRunRecordMaxChars);
  c.watchdog = platform::GetProfileText(ini, kRunRecordSection, c.name + kCycleSuffix, "",
                                        kRunRecordMaxChars);
  // Read as the previous-run check reads it: its leading number; 0 or less is no run.
  const long long pid = LeadingNumber(c.recorded_pid);
  c.pid_alive = pid > 0 && pid <= 0xFFFFFFFFLL &&
                IsAgentProcessRunning(static_cast<platform::ProcessId>(pid));
  c.lock_open = platform::NamedMutexIsOpen(InstanceLockName(CategoryOfTableWord(c.name)));
  const std::string log = agent.log_dir + kSep + "WebPost" + c.name + ".log";
  ReadRunLog(ReadLogGenerations(log), c);
}

// Who the runs are: the owner of the newest run log they wrote, else of the agent folder.
std::string RunUser(const AgentSetup& agent, const StatusReport& report) {
  std::int64_t newest = -1;
  std::string user = OwnerOf(agent.folder).user;
  for (const CategoryStatus& c : report.categories) {
    const std::int64_t last = std::max(c.last_start, c.last_finish);
    if (last <= newest) continue;
    FileOwner owner = OwnerOf(agent.log_dir + kSep + "WebPost" + c.name + ".log");
    if (!owner.known) continue;
    newest = last;
    user = owner.user;
  }
  return user;
}

// The folder itself: the agent in it, the room on its disk, logs runs cannot write to.
void ReadFolder(const AgentSetup& agent, StatusReport& report) {
  report.agent_present = KindOf(agent.Path({kAgentImageName})) == EntryKind::kFile;
  report.disk = InspectDisk(agent.folder);
  platform::DirSearch search;
  platform::DirEntry entry;
  for (auto step = search.First(agent.log_dir + kSep + "*.log", entry);
       step == platform::SearchStep::kEntry; step = search.Next(entry)) {
    const std::string path = agent.log_dir + kSep + entry.name;
    const EntryKind kind = KindOf(path);
    if (kind != EntryKind::kFile && kind != EntryKind::kMissing)
      report.unwritable_logs.emplace_back(path, kind);
  }
  report.key.file = cipher::KeyFilePath();
  report.key.owner = OwnerOf(report.key.file);
}

}  // namespace

StatusReport ReadStatus(const AgentSetup& agent, std::int64_t now, std::int64_t max_age,
                        std::int64_t max_run_age) {
  StatusReport report;
  report.folder = agent.folder;
  report.now = now;
  report.max_age = max_age;
  report.max_run_age = max_run_age;
  const FolderState folder = InspectFolder(agent.folder);
  report.folder_readable = folder.exists && !folder.is_link && folder.readable;
  if (!report.folder_readable) {
    JudgeStatus(report);
    return report;
  }
  ReadFolder(agent, report);
  for (const char* name : {"AlertTkt", "Status", "ATPostLogs", "Configuration"}) {
    CategoryStatus c;
    c.name = name;
    c.posts = c.name != "Configuration";
    ReadFiles(agent, report, c);
    ReadRun(agent, c);
    report.last_run = std::max({report.last_run, c.last_start, c.last_finish});
    report.categories.push_back(std::move(c));
  }
  report.key.run_user = RunUser(agent, report);
  NameMethods(report.methods);
  ForEachFile(agent.log_dir, "tfr_*.log", [&](const platform::DirEntry& entry, const FileTimes&) {
    const std::string& name = entry.name;
    if (name.size() < 8 || name.compare(name.size() - 4, 4, ".log") != 0) return;
    std::string prefix = name.substr(4, name.size() - 8);
    ReadTransferLog(prefix, ReadLogGenerations(agent.log_dir + kSep + name), report);
  });
  JudgeStatus(report);
  return report;
}

}  // namespace vemtu::check
