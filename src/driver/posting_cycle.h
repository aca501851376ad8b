// The second half of a run: transport preparation, leftover clean-up, the priority pass,
// the pattern passes (or the update counters), the finish and the follow-up run.
#pragma once

#include "common/run_context.h"

namespace vemtu {

class RoutingTable;

void RunPostingCycle(RunContext& ctx, RoutingTable& routing);

}  // namespace vemtu
