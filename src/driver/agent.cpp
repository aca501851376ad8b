#include "driver/agent.h"

#include "common/run_context.h"
#include "driver/configuration.h"
#include "driver/posting_cycle.h"
#include "driver/startup.h"
#include "posting/routing_table.h"

namespace vemtu {

int RunAgent(const char* command_tail) noexcept {
  try {
    RunContext ctx;
    RoutingTable routing;
    if (!StartRun(ctx, routing, command_tail ? command_tail : "")) return 0;
    if (!ConfigureRun(ctx)) return 0;
    RunPostingCycle(ctx, routing);
  } catch (...) {
    // Whatever escapes the run ends it quietly; the locks are left to the process's end.
  }
  return 0;
}

}  // namespace vemtu
