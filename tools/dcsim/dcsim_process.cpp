#include "dcsim_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace dcsim {

std::vector<IndexLine> ReadIndex(const std::string& out_folder, bool everything) {
  std::vector<IndexLine> lines;
  std::ifstream in(out_folder + "/index.txt", std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::size_t start = 0, tab;
    while ((tab = line.find('\t', start)) != std::string::npos) {
      fields.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    fields.push_back(line.substr(start));
    if (fields.size() < 9) continue;
    IndexLine entry;
    entry.served = fields[0] != "-";
    if (!entry.served && !everything) continue;
    if (fields.size() > 9) entry.time = fields[9];
    entry.number = std::strtoul(fields[0].c_str(), nullptr, 10);
    entry.via = fields[1];
    entry.method = fields[2];
    entry.target = fields[3];
    entry.prefix = fields[4];
    entry.body_bytes = std::strtoul(fields[5].c_str(), nullptr, 10);
    entry.packed = fields[6] == "1";
    entry.status = fields[7];
    entry.reply = fields[8];
    lines.push_back(entry);
  }
  return lines;
}

DcsimProcess::~DcsimProcess() { Stop(); }

bool DcsimProcess::Start(const std::string& exe, const std::string& out,
                         const std::vector<std::string>& extra, std::string& error) {
  out_folder = out;
  std::string ports_file = out + ".ports";
  std::remove(ports_file.c_str());
  std::vector<std::string> args = {exe, "--out", out, "--ports-file", ports_file};
  args.insert(args.end(), extra.begin(), extra.end());
  pid_ = fork();
  if (pid_ < 0) {
    error = "fork failed";
    pid_ = 0;
    return false;
  }
  if (pid_ == 0) {
    // The child's own output goes to a file beside the output folder, read on failure.
    if (std::FILE* log = std::fopen((out + ".log").c_str(), "wb")) {
      dup2(fileno(log), 1);
      dup2(fileno(log), 2);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    std::fprintf(stderr, "cannot run %s\n", argv[0]);
    std::fflush(stderr);
    _exit(127);
  }
  auto output = [&out]() {
    std::ifstream in(out + ".log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  // Generous: making the key pair can take a while on a loaded machine.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(ports_file);
    std::string line;
    if (std::getline(in, line) && std::sscanf(line.c_str(), "http=%d https=%d proxy=%d", &http_port,
                                              &https_port, &proxy_port) == 3)
      return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      error = "dcsim ended at start: " + output();
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  error = "dcsim did not report its ports: " + output();
  Stop();
  return false;
}

void DcsimProcess::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  // A simulator that does not end within a few seconds is killed: a test never waits on it.
  int status = 0;
  for (int i = 0; i < 500 && waitpid(pid_, &status, WNOHANG) != pid_; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (waitpid(pid_, &status, WNOHANG) == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = 0;
}

}  // namespace dcsim
