// Linux entry point: rebuilds the command-line text after the program name from the
// arguments (joined by one blank) and hands it to the agent.
#include <string>

#include "driver/agent.h"

int main(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  return vemtu::RunAgent(tail.c_str());
}
