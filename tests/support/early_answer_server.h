// A raw loopback server that answers each request early: it reads the head and the first
// `body_bytes` of the body, sends `answer` and closes, leaving the rest of the body
// unread (so the kernel resets the connection). Keeps the heads it read.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vemtu::test {

class EarlyAnswerServer {
 public:
  EarlyAnswerServer(const char* address, std::string answer, std::size_t body_bytes = 0)
      : address_(address), answer_(std::move(answer)), body_bytes_(body_bytes) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    inet_pton(AF_INET, address, &where.sin_addr);
    socklen_t length = sizeof where;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
      ADD_FAILURE() << "no listener on " << address;
    }
    port_ = ntohs(where.sin_port);
    thread_ = std::thread([this] {
      for (int fd; (fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; close(fd)) {
        std::string head;
        char buffer[16384];
        while (head.find("\r\n\r\n") == std::string::npos && recv(fd, buffer, 1, 0) == 1) head += buffer[0];
        Record(head);
        for (std::size_t read = 0; read < body_bytes_;) {
          ssize_t n = recv(fd, buffer, std::min(sizeof buffer, body_bytes_ - read), 0);
          if (n <= 0) break;
          read += static_cast<std::size_t>(n);
        }
        send(fd, answer_.data(), answer_.size(), MSG_NOSIGNAL);
      }
    });
  }
  ~EarlyAnswerServer() {
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  std::string HostPort() const { return address_ + ":" + std::to_string(port_); }
  int port() const { return port_; }
  std::vector<std::string> Heads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return heads_;
  }

 private:
  void Record(const std::string& head) {
    std::lock_guard<std::mutex> lock(mutex_);
    heads_.push_back(head);
  }

  std::string address_, answer_;
  std::size_t body_bytes_;
  int listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> heads_;
};

}  // namespace vemtu::test
