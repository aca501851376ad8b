// Writes its own process id to the file named by the first argument, then sleeps for
// the number of seconds in the second (120 by default).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "platform/process.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  {
    std::ofstream out(std::string(argv[1]) + ".part", std::ios::trunc);
    out << vemtu::platform::CurrentProcessId() << "\n";
  }
  // Appears whole: readers poll for the final name.
  std::rename((std::string(argv[1]) + ".part").c_str(), argv[1]);
  long seconds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 120;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return 0;
}
