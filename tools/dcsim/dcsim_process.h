// Running dcsim as a child process from tests, benchmarks and tools, and reading the
// index of what it received.
#pragma once

#include <string>
#include <vector>

namespace dcsim {

struct IndexLine {
  unsigned long number = 0;
  std::string via, method, target, prefix;
  unsigned long body_bytes = 0;
  bool packed = false;
  std::string status;  // the HTTP status, "drop", "cut" or "tls"
  std::string reply;   // escaped as in the index
  std::string time;    // local "YYYY-MM-DD HH:MM:SS"
  bool served = true;  // false: number "-", the data centre never served it (number 0)
};

// Parses index.txt of an output folder; missing file = no lines. Without `everything`
// only the requests the data centre served (those with files NNNNNN.*).
std::vector<IndexLine> ReadIndex(const std::string& out_folder, bool everything = false);

class DcsimProcess {
 public:
  DcsimProcess() = default;
  ~DcsimProcess();
  DcsimProcess(const DcsimProcess&) = delete;
  DcsimProcess& operator=(const DcsimProcess&) = delete;

  // Starts `exe` with --out `out_folder` and `extra` arguments and waits (at most 60 s)
  // for its ports. The child's output goes to `out_folder` + ".log".
  bool Start(const std::string& exe, const std::string& out_folder,
             const std::vector<std::string>& extra, std::string& error);
  // Ends the child (SIGTERM, then waits).
  void Stop();

  int http_port = 0, https_port = 0, proxy_port = 0;
  std::string out_folder;

 private:
  int pid_ = 0;
};

}  // namespace dcsim
