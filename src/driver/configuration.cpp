#include "driver/configuration.h"

namespace vemtu {

// Placeholder until the configuration step lands.
bool ConfigureRun(RunContext&) { return true; }
void AdvanceConfigCycles(const RunContext&, const std::string&) {}

}  // namespace vemtu
