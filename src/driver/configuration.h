// The configuration step of a run: registration values, site URLs, proxy settings and
// the clear-text proxy credentials, all into RunContext.
#pragma once

#include <string>
#include <vector>

#include "common/run_context.h"

namespace vemtu {

// Runs right after start-up. Returns false when the run must end (the step has then
// written its message and cleared the run's record); true when the run goes on.
bool ConfigureRun(RunContext& ctx);

// One value of the agent INI as a run reads it (cut at its capacity).
struct AgentIniValue {
  const char* section;
  const char* key;
  std::string value;
  bool required;  // one of the four identity values a run cannot go without
};

// Every value the configuration step reads, in its order (the enciphered proxy
// credentials last, read whether or not a user name is set); nothing is written.
std::vector<AgentIniValue> ReadAgentIniValues(const std::string& agent_ini_path);

// Advances the three update counters of the posting configuration INI (the
// "Configuration" run's only work).
void AdvanceConfigCycles(RunContext& ctx, const std::string& config_ini_path);

}  // namespace vemtu
