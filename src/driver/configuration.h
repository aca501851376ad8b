// The configuration step of a run: registration values, site URLs, proxy settings and
// the clear-text proxy credentials, all into RunContext.
#pragma once

#include <string>

#include "common/run_context.h"

namespace vemtu {

// Runs right after start-up. Returns false when the run must end (the step has then
// written its message and cleared the run's record); true when the run goes on.
bool ConfigureRun(RunContext& ctx);

// Advances the three update counters of the posting configuration INI (the
// "Configuration" run's only work).
void AdvanceConfigCycles(const RunContext& ctx, const std::string& config_ini_path);

}  // namespace vemtu
