// nginx and squid as child processes of the test, each from a configuration in its own
// folder, in the foreground, with every file they write (pid, logs, temporary bodies)
// in that folder; stopped with SIGTERM (SIGKILL if they linger).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/real_servers.h"

namespace fs = std::filesystem;

namespace vemtu::test {

namespace {

sockaddr_in Loopback(const std::string& address, int port) {
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, address.c_str(), &out.sin_addr);
  return out;
}

bool Listening(const std::string& address, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in where = Loopback(address, port);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
  close(fd);
  return ok;
}

// Starts `argv` in a process group of its own with stdout and stderr going to `log`.
int Start(const std::vector<std::string>& argv, const std::string& log) {
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    setpgid(0, 0);
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    std::vector<char*> raw;
    for (const auto& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    execvp(raw[0], raw.data());
    _exit(127);
  }
  return pid;
}

void Stop(int pid) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// Waits until every port accepts; a process that ended or a port that never opens
// stops it and throws, quoting its log.
void AwaitPorts(int pid, const std::string& address, const std::vector<int>& ports,
                const std::string& log) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int port : ports) {
    while (!Listening(address, port)) {
      bool ended = waitpid(pid, nullptr, WNOHANG) == pid;
      if (ended || std::chrono::steady_clock::now() > deadline) {
        if (!ended) Stop(pid);
        throw std::runtime_error("did not start: " + ReadFileBytes(log));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

}  // namespace

bool HaveProgram(const std::string& program) {
  for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
    if (access((folder + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

int FreeLoopbackPort(const std::string& address) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in where = Loopback(address, 0);
  socklen_t length = sizeof where;
  bool ok = bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) == 0;
  close(fd);
  if (!ok) throw std::runtime_error("no free port on " + address);
  return ntohs(where.sin_port);
}

// ---- nginx ----

Nginx::Nginx(const std::string& folder, const std::vector<NginxSite>& sites,
             const std::string& upstream)
    : folder_(folder) {
  fs::create_directories(folder_);
  std::string f = folder_;
  std::string conf =
      "master_process off;\ndaemon off;\nworker_processes 1;\n"
      "pid " + f + "/nginx.pid;\nerror_log " + f + "/error.log info;\n"
      "events { worker_connections 64; }\n"
      "http {\n  access_log " + f + "/access.log;\n"
      "  client_body_temp_path " + f + "/body;\n  proxy_temp_path " + f + "/proxy;\n"
      "  fastcgi_temp_path " + f + "/fastcgi;\n  uwsgi_temp_path " + f + "/uwsgi;\n"
      "  scgi_temp_path " + f + "/scgi;\n"
      "  client_max_body_size 0;\n  proxy_http_version 1.1;\n";
  std::vector<int> ports;
  for (const NginxSite& site : sites) {
    bool tls = !site.tls.certificate.empty();
    conf += "  server {\n    listen 127.0.0.1:" + std::to_string(site.port) + (tls ? " ssl" : "") + ";\n";
    if (tls) {
      conf += "    ssl_certificate " + site.tls.certificate + ";\n    ssl_certificate_key " +
              site.tls.key + ";\n";
    }
    conf += "    location ~ ^/strict/tfr_[^/]*\\.asp$ {\n"
            "      if ($http_expect) { return 417; }\n"
            "      proxy_pass http://" + upstream + ";\n    }\n"
            "    location ~ /tfr_[^/]*\\.asp$ { proxy_pass http://" + upstream + "; }\n"
            "  }\n";
    ports.push_back(site.port);
  }
  conf += "}\n";
  WriteFileBytes(f + "/nginx.conf", conf);
  std::string log = f + "/stderr.log";
  pid_ = Start({"nginx", "-p", f + "/", "-e", f + "/error.log", "-c", f + "/nginx.conf"}, log);
  AwaitPorts(pid_, "127.0.0.1", ports, log);
}

Nginx::~Nginx() { Stop(pid_); }

std::string Nginx::ErrorLog() const { return ReadFileBytes(folder_ + "/error.log"); }

// ---- squid ----

Squid::Squid(const std::string& folder, ProxyAuth auth, const std::string& user,
             const std::string& password, int origin_port)
    : folder_(folder) {
  fs::create_directories(folder_);
  // squid started by root works as its own user: let it write its logs here.
  chmod(folder_.c_str(), 0777);
  std::string f = folder_;
  port_ = FreeLoopbackPort("127.0.0.2");
  std::string conf =
      "http_port 127.0.0.2:" + std::to_string(port_) + "\n"
      "pid_filename " + f + "/squid.pid\ncache_log " + f + "/cache.log\n"
      "access_log stdio:" + f + "/access.log\ncache_store_log none\ncoredump_dir " + f + "\n"
      "cache deny all\nnetdb_filename none\npinger_enable off\nicp_port 0\nhtcp_port 0\n"
      "shutdown_lifetime 0 seconds\nvisible_hostname vemtu-test\nvia off\n";
  WriteFileBytes(f + "/basic.pw", "");
  WriteFileBytes(f + "/digest.pw", user + ":" + password + "\n");
  if (auth == ProxyAuth::kBasic || auth == ProxyAuth::kAll) {
    if (std::system(("htpasswd -b -m -c " + f + "/basic.pw '" + user + "' '" + password +
                     "' >/dev/null 2>&1").c_str()) != 0) {
      throw std::runtime_error("htpasswd failed");
    }
    conf += "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + f + "/basic.pw\n"
            "auth_param basic children 2\nauth_param basic realm vemtu\n";
  }
  if (auth == ProxyAuth::kDigest || auth == ProxyAuth::kAll) {
    conf += "auth_param digest program /usr/lib/squid/digest_file_auth " + f + "/digest.pw\n"
            "auth_param digest children 2\nauth_param digest realm vemtu\n";
  }
  if (auth == ProxyAuth::kAll) {
    conf += "auth_param ntlm program /usr/lib/squid/ntlm_fake_auth\nauth_param ntlm children 2\n";
  }
  if (auth == ProxyAuth::kNone) {
    conf += "http_access allow all\n";
  } else {
    conf += "acl known proxy_auth REQUIRED\nhttp_access allow known\nhttp_access deny all\n";
  }
  if (origin_port > 0) {
    conf += "cache_peer 127.0.0.1 parent " + std::to_string(origin_port) +
            " 0 no-query originserver name=origin\nnever_direct allow all\n";
  }
  WriteFileBytes(f + "/squid.conf", conf);
  for (const char* name : {"/squid.conf", "/basic.pw", "/digest.pw"}) chmod((f + name).c_str(), 0644);
  std::string log = f + "/stderr.log";
  pid_ = Start({"squid", "-N", "-f", f + "/squid.conf"}, log);
  AwaitPorts(pid_, "127.0.0.2", {port_}, log);
}

Squid::~Squid() { Stop(pid_); }

std::string Squid::AccessLog() const {
  // squid writes its access log as each request ends; give it a moment.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return ReadFileBytes(folder_ + "/access.log");
}

}  // namespace vemtu::test
