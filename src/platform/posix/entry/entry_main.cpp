// Linux entry point: hands the agent the command-line text a Windows program would see
// after its name for these arguments.
#include "driver/agent.h"
#include "platform/posix/entry/command_tail.h"

int main(int argc, char** argv) {
  return vemtu::RunAgent(vemtu::platform::CommandTail(argc, argv).c_str());
}
