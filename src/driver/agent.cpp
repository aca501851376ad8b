#include "driver/agent.h"

namespace vemtu {

int RunAgent(const char* command_tail) noexcept {
  (void)command_tail;
  return 0;
}

}  // namespace vemtu
