// The first half of every run: from process start to the moment the run is recorded as
// the live run of its category.
#pragma once

#include <string>
#include <string_view>

#include "common/run_context.h"
#include "driver/agent_process.h"
#include "driver/category.h"
#include "posting/routing_table.h"

namespace vemtu {

constexpr const char* kInstanceLockPrefix = "RHOVAN_KOLT_MUTEX";
constexpr unsigned kWatchdogLimit = 10;  // the attempt that ends a stuck earlier run
constexpr std::size_t kExePathMaxChars = 258;

// Paths that start-up needs but RunContext does not keep.
// (the rule files and the post database lie in the configuration folder).
struct StartupPaths {
  std::string config_dir;  // ExeDir + "\Configuration\WebPost"
};

// Step 3: the quoted executable, ExeDir, the configuration folder and the posting
// configuration INI, all from the executable's full path.
StartupPaths BuildExecutablePaths(RunContext& ctx, std::string_view exe_path);

// Step 6 (paths only): the category name and run log as typed; the agent INI; the
// category INI, category folder and Error folder by the canonical word, so that every run
// of one category shares its record and its folders whatever the letter case typed.
void BuildCategoryPaths(RunContext& ctx, const StartupPaths& paths, const Category& category);

// "RHOVAN_KOLT_MUTEX" + the category's canonical word: a run of "status" and one of
// "Status" share a folder, so they share the lock too.
std::string InstanceLockName(const Category& category);

enum class PreviousRun {
  kGone,          // no earlier run alive (or it was ended): this run starts
  kStillRunning,  // an earlier run is alive: this run is refused
  kNotEnded,      // the tenth attempt could not end the earlier run: refused
  kNotRecorded,   // this run's process id could not be written, so a second run would
                  // not see it: refused
};

// The previous-run check against the category INI: the recorded process id, the
// watchdog counter, and on the tenth consecutive attempt the end of the earlier run.
PreviousRun CheckPreviousRun(RunContext& ctx, AgentProcesses& processes);

// The check and, when it lets this run start, "MSG: Started Web Posting" and the run's
// record (counter "0", then this process's id), all under one hold of the instance lock.
// A refusal then closes the instance lock and logs its message.
PreviousRun ClaimCategory(RunContext& ctx, AgentProcesses& processes);

// The whole start-up sequence for `command_tail`. True when the run goes on to the
// configuration; false when it has ended (silently or with its one log line).
bool StartRun(RunContext& ctx, RoutingTable& routing, std::string_view command_tail);

}  // namespace vemtu
