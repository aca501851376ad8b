#include "driver/startup.h"

#include <memory>

#include "common/fixed_text.h"
#include "log/log_writer.h"
#include "platform/agent_folder.h"
#include "platform/codepage.h"
#include "platform/dir_search.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "posting/routing_load.h"
#include "posting/run_record.h"

namespace vemtu {

namespace {

std::string Native(std::string_view fixed_path) { return platform::NativePath(fixed_path); }

void LogRunMessage(const RunContext& ctx, const char* message) {
  WriteLogEntry(ctx.run_log_path.str(), kEventProgress, 0, message);
}

// Steps 1 and 2: priority and the debug privilege; every failure is ignored.
void RaisePriorityAndPrivilege() {
  platform::RaiseOwnPriority();
  platform::AccessToken token = platform::AccessToken::OpenOwn();
  if (token.IsOpen()) platform::EnablePrivilege(token, "SeDebugPrivilege", true);
}

// The refusal of a run: the instance lock is closed and forgotten, one line is logged.
void Refuse(RunContext& ctx, const char* message) {
  ctx.instance_lock.reset();
  LogRunMessage(ctx, message);
}

// Opens the agent folder and holds its configuration folder (made when missing) for the
// run: every INI, rule file and the post database are opened relative to them. A failure
// here is seen where it matters: a run that cannot record its process id does not post.
void HoldConfigurationFolder(RunContext& ctx, const StartupPaths& paths) {
  ctx.folder = std::make_shared<platform::AgentFolder>(
      platform::AgentFolder::Open(ctx.exe_dir.str()));
  const std::string& config = paths.config_dir;
  const std::string parent = config.substr(
      0, platform::FindCharacter(config, platform::kPathSeparator, platform::Occurrence::kLast));
  if (ctx.folder->IsOpen() && ctx.folder->HoldFolder(parent)) ctx.folder->HoldFolder(config);
  ctx.profiles = std::make_shared<platform::ProfileFiles>(ctx.folder);
  ctx.profiles->ReportGivenUpWaits([&ctx](const std::string& file, int error) {
    WriteLogEntry(ctx.run_log_path.str(), kEventProgress, error, "ERR: Unable to lock INI file",
                  file.c_str());
  });
}

// Holds the category folder (found ignoring letter case, made when missing) and its
// Error folder in the agent folder for the run. A category folder that is a link or a
// file is never entered: its files wait, and one line says why.
bool HoldRunFolders(RunContext& ctx) {
  platform::AgentFolder& folder = *ctx.folder;
  auto refused = [&ctx](const PathText& path) {
    WriteLogEntry(ctx.run_log_path.str(), kEventProgress, platform::LastError(),
                  "ERR: Unable to open folder", path.c_str());
  };
  if (!folder.IsOpen()) {
    // The agent folder itself moved away or became a link during start-up.
    refused(ctx.exe_dir);
    return false;
  }
  for (const PathText* path : {&ctx.category_folder, &ctx.error_folder}) {
    if (!folder.HoldFolder(path->str())) {
      refused(*path);
      break;
    }
  }
  return true;
}

// The category INI's file name: "Vemtu" + the canonical word + ".INI", or the file there
// whose name differs from that only in letter case, as the category folder is found. A
// run typed "status" and one typed "Status" so keep one record on every system.
std::string RunRecordFileName(const std::string& config_dir, const std::string& canonical) {
  const std::string wanted = "Vemtu" + canonical + ".INI";
  std::string found = wanted;
  platform::DirSearch listing;
  platform::DirEntry entry;
  for (platform::SearchStep step =
           listing.First(config_dir + platform::kPathSeparator + wanted, entry);
       step == platform::SearchStep::kEntry; step = listing.Next(entry)) {
    if (entry.is_directory || entry.is_link || entry.unusable_name) continue;
    if (entry.name == wanted) return wanted;
    if (found == wanted && EqualsIgnoreCase(entry.name, wanted)) found = entry.name;
  }
  return found;
}

}  // namespace

StartupPaths BuildExecutablePaths(RunContext& ctx, std::string_view exe_path) {
  std::string_view exe = CutText(exe_path, kExePathMaxChars);
  ctx.quoted_exe_path.Assign("\"").Append(exe).Append("\"");
  std::size_t cut =
      platform::FindCharacter(exe, platform::kPathSeparator, platform::Occurrence::kLast);
  ctx.exe_dir = cut == std::string_view::npos ? exe : exe.substr(0, cut);

  StartupPaths paths;
  paths.config_dir = ctx.exe_dir.str() + Native("\\Configuration\\WebPost");
  ctx.config_ini_path = paths.config_dir + Native("\\WebPostConfig.INI");
  return paths;
}

void BuildCategoryPaths(RunContext& ctx, const StartupPaths& paths, const Category& category) {
  ctx.category = category.name;
  const std::string exe_dir = ctx.exe_dir.str();
  const std::string& word = category.canonical;
  ctx.run_log_path =
      exe_dir + Native("\\ApplicationLog\\WebPost\\WebPostExe\\WebPost") + category.name + ".log";
  ctx.agent_ini_path = exe_dir + Native("\\KOLTMobile.INI");
  ctx.category_ini_path =
      paths.config_dir + platform::kPathSeparator + RunRecordFileName(paths.config_dir, word);
  ctx.category_folder = exe_dir + Native("\\") + word;
  ctx.error_folder = exe_dir + Native("\\") + word + Native("\\Error");
}

std::string InstanceLockName(const Category& category) {
  return std::string(kInstanceLockPrefix) + category.canonical;
}

PreviousRun CheckPreviousRun(RunContext& ctx, AgentProcesses& processes) {
  long long pid = LeadingNumber(ReadRunRecordKey(ctx, kPidSuffix));
  if (pid <= 0) return PreviousRun::kGone;
  const auto process_id = static_cast<platform::ProcessId>(pid);
  // The system has given the recorded id to this very process, so the run that left it
  // is gone; taken for alive, it would refuse this run and, on the tenth attempt, end it.
  if (process_id == platform::CurrentProcessId()) return PreviousRun::kGone;
  if (!processes.IsRunning(process_id)) return PreviousRun::kGone;

  long long cycle = LeadingNumber(ReadRunRecordKey(ctx, kCycleSuffix));
  if (cycle < 0) cycle = 0;
  ++cycle;
  WriteRunRecordKey(ctx, kCycleSuffix, std::to_string(cycle));

  if (cycle >= kWatchdogLimit) {
    // Stuck for ten attempts in a row: end it. The counter is reset when this run
    // records itself.
    return processes.Terminate(process_id) ? PreviousRun::kGone : PreviousRun::kNotEnded;
  }
  // Alive at the second look: refused; ended between the two looks: this run starts.
  return processes.IsRunning(process_id) ? PreviousRun::kStillRunning : PreviousRun::kGone;
}

PreviousRun ClaimCategory(RunContext& ctx, AgentProcesses& processes) {
  PreviousRun outcome;
  {
    // One hold from the check to the record: a run starting at the same moment either
    // finds this run recorded or has recorded itself before this check reads.
    InstanceLockHold hold(ctx);
    outcome = CheckPreviousRun(ctx, processes);
    if (outcome == PreviousRun::kGone) {
      LogRunMessage(ctx, "MSG: Started Web Posting");
      WriteRunRecordKey(ctx, kCycleSuffix, "0");
      if (!WriteRunRecordKey(ctx, kPidSuffix, std::to_string(platform::CurrentProcessId()))) {
        outcome = PreviousRun::kNotRecorded;
        WriteLogEntry(ctx.run_log_path.str(), kEventProgress, platform::LastError(),
                      "ERR: Unable to record process ID, nothing is posted",
                      LoggablePath(ctx.category_ini_path.str()).c_str());
      }
    }
  }
  switch (outcome) {
    case PreviousRun::kGone:
      break;
    case PreviousRun::kStillRunning:
      Refuse(ctx, "MSG: Previous process is still running");
      break;
    case PreviousRun::kNotEnded:
      Refuse(ctx, "MSG: Unable to terminate previous process");
      break;
    case PreviousRun::kNotRecorded:
      ctx.instance_lock.reset();
      break;
  }
  return outcome;
}

bool StartRun(RunContext& ctx, RoutingTable& routing, std::string_view command_tail) {
  RaisePriorityAndPrivilege();
  const std::string exe_path = platform::ExecutablePath();
  // Cut to fit, the path would name another folder (the parent) as the agent's own: a
  // path that does not fit ends the run before anything is touched.
  if (exe_path.empty() || exe_path.size() > kExePathMaxChars) return false;
  const StartupPaths paths = BuildExecutablePaths(ctx, exe_path);

  const std::optional<Category> category = SelectCategory(command_tail);
  if (!category) return false;  // no category: nothing is written at all

  HoldConfigurationFolder(ctx, paths);
  if (LoadsRoutingTable(category->kind)) {
    if (LoadRoutingTable(routing, category->canonical, paths.config_dir, *ctx.folder) ==
        RoutingLoad::kLockNotCreated) {
      // The run ends; it says why, so that a lock it may not open (made by a run under
      // another user, say) does not end every later run unseen.
      const int error = platform::LastError();
      BuildCategoryPaths(ctx, paths, *category);
      WriteLogEntry(ctx.run_log_path.str(), kEventProgress, error, "MSG: Unable to create mutex",
                    PostDatabaseLockName(category->name).c_str());
      return false;
    }
    // The Status run starts now, beside this one, before the instance lock is taken.
    if (category->kind == CategoryKind::kAlertTkt) SpawnCategoryRun(ctx, "Status");
  }

  platform::SetCurrentFolder(ctx.exe_dir.str());
  BuildCategoryPaths(ctx, paths, *category);

  const std::string lock_name = InstanceLockName(*category);
  auto lock = std::make_unique<platform::NamedMutex>(platform::NamedMutex::Create(lock_name));
  if (!lock->IsValid()) {
    WriteLogEntry(ctx.run_log_path.str(), kEventProgress, platform::LastError(),
                  "MSG: Unable to create mutex", lock_name.c_str());
    return false;
  }
  ctx.instance_lock = std::move(lock);

  SystemAgentProcesses processes;
  if (ClaimCategory(ctx, processes) != PreviousRun::kGone) return false;

  return HoldRunFolders(ctx);
}

}  // namespace vemtu
