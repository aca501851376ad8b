// A long-lived program for tests: writes its own process id to the file named by the
// first argument, then sleeps for the number of seconds in the second (120 by default).
// Options after those, each taken before the process id file appears:
//   lock NAME MS   holds the named lock until MS milliseconds have passed, so that
//                  starts queued on the lock meet at once when it goes
//   file PATH TEXT writes TEXT to PATH and keeps it open without sharing, as a program
//                  that holds a file does on Windows
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  vemtu::platform::NamedMutex lock;
  long hold_ms = 0;
  vemtu::platform::File held;
  for (int i = 3; i + 2 < argc; i += 3) {
    if (std::strcmp(argv[i], "lock") == 0) {
      lock = vemtu::platform::NamedMutex::Create(argv[i + 1]);
      vemtu::WaitResult got = lock.IsValid() ? lock.Wait(30000) : vemtu::WaitResult::kFailed;
      if (got != vemtu::WaitResult::kAcquired && got != vemtu::WaitResult::kAbandoned) return 3;
      hold_ms = std::strtol(argv[i + 2], nullptr, 10);
    } else if (std::strcmp(argv[i], "file") == 0) {
      held = vemtu::platform::File::Open(argv[i + 1],
                                         vemtu::platform::OpenMode::kWriteTruncateUnshared);
      if (!held.IsOpen()) return 4;
      held.Write(argv[i + 2], std::strlen(argv[i + 2]));
    } else {
      return 2;
    }
  }
  {
    std::ofstream out(std::string(argv[1]) + ".part", std::ios::trunc);
    out << vemtu::platform::CurrentProcessId() << "\n";
  }
  // Appears whole: readers poll for the final name.
  std::rename((std::string(argv[1]) + ".part").c_str(), argv[1]);
  if (lock.IsValid()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
    lock.Release();
  }
  long seconds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 120;
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  return 0;
}
