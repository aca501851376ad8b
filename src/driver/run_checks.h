// What keeps a posting run from posting anything, said in its run log.
#pragma once

#include "common/run_context.h"
#include "posting/routing_table.h"

namespace vemtu {

// Writes one ERR line to the run log, in the words of the configuration check, for a
// primary site that is empty (while no routing entry posts to a URL of its own), a site address that does not split into scheme, host and
// port, and a category folder that is missing. Without them such a run would log only
// its start and its end.
void ReportUnworkableSetup(const RunContext& ctx, const RoutingTable& routing);

}  // namespace vemtu
