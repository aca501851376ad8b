#include "driver/posting_cycle.h"

namespace vemtu {

// Placeholder until the posting cycle lands: the run ends after start-up.
void RunPostingCycle(RunContext&, RoutingTable&) {}

}  // namespace vemtu
