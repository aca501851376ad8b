// The paths of one agent folder, made by the agent's own start-up code, and the values
// of its agent INI as a run reads them.
#pragma once

#include <string>
#include <vector>

#include "common/run_context.h"
#include "driver/configuration.h"
#include "driver/startup.h"

namespace vemtu::check {

// The categories that post, each with a category folder and an Error folder.
extern const char* const kPostingCategories[3];

struct AgentSetup {
  std::string folder;      // the folder of Vemtu.EXE
  std::string config_dir;  // Configuration/WebPost
  std::string log_dir;     // ApplicationLog/WebPost/WebPostExe
  RunContext ctx;          // paths for the AlertTkt run, values read from the agent INI
  std::vector<AgentIniValue> values;

  explicit AgentSetup(const std::string& folder);
  // The value of `key` as read (empty when absent).
  std::string Value(const char* key) const;
  // `folder` + separator + each part.
  std::string Path(std::initializer_list<const char*> parts) const;
};

// The folder of the running program, where it lies beside the agent.
std::string OwnFolder();

// The version the agent executable at `path` was built as; empty when it has none.
std::string AgentVersion(const std::string& path);

}  // namespace vemtu::check
