// tinyproxy started from a generated configuration on a free loopback port, in the
// foreground as a child process, stopped with SIGTERM (SIGKILL if it lingers).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/scripted_server.h"
#include "support/test_files.h"

namespace vemtu::test {

namespace {

sockaddr_in LoopbackAddress(const std::string& address, int port) {
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, address.c_str(), &out.sin_addr) != 1) {
    throw std::runtime_error("proxy: bad address " + address);
  }
  return out;
}

// A port that is free on `address` right now (bound, read back, released).
int FreePort(const std::string& address) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in where = LoopbackAddress(address, 0);
  socklen_t length = sizeof where;
  bool ok = bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) == 0;
  close(fd);
  if (!ok) throw std::runtime_error("proxy: no free port on " + address);
  return ntohs(where.sin_port);
}

bool Accepts(const std::string& address, int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in where = LoopbackAddress(address, port);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
  close(fd);
  return ok;
}

}  // namespace

TinyProxy::TinyProxy() : TinyProxy(Options{}) {}

TinyProxy::TinyProxy(Options options) : options_(std::move(options)) {
  folder_ = (std::filesystem::temp_directory_path() /
             ("vemtu-proxy-" + std::to_string(getpid()) + "-" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())))
                .string();
  std::filesystem::create_directories(folder_);
  for (int attempt = 0; attempt < 3 && pid_ < 0; ++attempt) {
    port_ = FreePort(options_.address);
    std::string config = "Port " + std::to_string(port_) + "\n" +
                         "Listen " + options_.address + "\n" +
                         "Timeout 30\n"
                         "MaxClients 50\n"
                         "LogFile \"" + folder_ + "/proxy.log\"\n"
                         "LogLevel Info\n"
                         "PidFile \"" + folder_ + "/proxy.pid\"\n"
                         "Allow 127.0.0.0/8\n"
                         "DisableViaHeader Yes\n";
    if (!options_.user.empty()) {
      config += "BasicAuth " + options_.user + " " + options_.password + "\n";
    }
    WriteFileBytes(folder_ + "/proxy.conf", config);

    pid_t child = fork();
    if (child < 0) throw std::runtime_error("proxy: fork failed");
    if (child == 0) {
      std::string log = folder_ + "/stderr.log";
      FILE* out = freopen(log.c_str(), "w", stderr);
      (void)out;
      execlp("tinyproxy", "tinyproxy", "-d", "-c", (folder_ + "/proxy.conf").c_str(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Accepts(options_.address, port_)) {
        pid_ = child;
        break;
      }
      int status = 0;
      if (waitpid(child, &status, WNOHANG) == child) break;  // it gave up (port taken?)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (pid_ < 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
  }
  if (pid_ < 0) {
    std::string why = ReadFileBytes(folder_ + "/stderr.log");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    throw std::runtime_error("proxy: tinyproxy did not start: " + why);
  }
}

TinyProxy::~TinyProxy() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void TinyProxy::Stop() {
  if (pid_ < 0) return;
  kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) != pid_) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

std::string TinyProxy::HostPort() const {
  return options_.address + ":" + std::to_string(port_);
}

std::string TinyProxy::LogText() const { return ReadFileBytes(folder_ + "/proxy.log"); }

}  // namespace vemtu::test
