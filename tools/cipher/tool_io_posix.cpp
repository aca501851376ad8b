#include "tool_io.h"

namespace vemtu::cipher {

std::vector<std::string> CommandArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void PrepareBinaryInput() {}

}  // namespace vemtu::cipher
