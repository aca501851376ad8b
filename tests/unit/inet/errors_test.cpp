// Each way a post can fail, through both libraries: the call fails with the library's
// 12xxx code in the thread's last-error slot.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>
#include <functional>
#include <thread>
#include <memory>

#include "inet_clients.h"
#include "platform/errors.h"
#include "support/offline.h"
#include "support/scripted_server.h"
#include "test_bodies.h"
#include "winhttp.h"

namespace vemtu::test {
namespace {

// A loopback port that nothing listens on.
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

struct FailureCase {
  const char* name;
  std::function<void(ScriptedServer&, PostPlan&)> arrange;
  DWORD wininet;
  DWORD winhttp;
};

std::vector<FailureCase> Cases() {
  return {
      {"refused port", [](ScriptedServer&, PostPlan& plan) { plan.port = ClosedPort(); },
       12029, 12029},
      {"stalling server",
       [](ScriptedServer& server, PostPlan& plan) {
         server.Push(Reply::Of(ReplyKind::kStall));
         plan.timeout_ms = 400;
       },
       12002, 12002},
      {"reset mid-body",
       [](ScriptedServer& server, PostPlan& plan) {
         Reply reset = Reply::Of(ReplyKind::kResetMidBody);
         reset.reset_after = 1000;
         server.Push(reset);
         plan.body = PatternBody(2 << 20);
       },
       12031, 12030},
      {"garbage reply",
       [](ScriptedServer& server, PostPlan&) {
         Reply garbage = Reply::Of(ReplyKind::kGarbage);
         garbage.body = "this is not HTTP\r\n\r\n";
         server.Push(garbage);
       },
       12152, 12152},
      {"no reply at all",
       [](ScriptedServer& server, PostPlan&) { server.Push(Reply::Of(ReplyKind::kDrop)); },
       12152, 12152},
  };
}

class PostFailure : public ::testing::TestWithParam<bool> {};  // true: WinHTTP

TEST_P(PostFailure, EndsWithTheLibrarysCode) {
  bool winhttp = GetParam();
  const WinHttpBinding* api = winhttp ? BindWinHttp() : nullptr;
  if (winhttp) {
    ASSERT_NE(api, nullptr);
  }
  for (const FailureCase& c : Cases()) {
    ScriptedServer server;
    PostPlan plan;
    plan.host = server.address();
    plan.port = server.port();
    plan.body = "a=1";
    c.arrange(server, plan);
    PostResult result = winhttp ? PostWinHttp(*api, plan) : PostWinInet(plan);
    EXPECT_EQ(result.error, winhttp ? c.winhttp : c.wininet)
        << c.name << " (failed in " << result.failed << ")";
    EXPECT_FALSE(platform::ErrorText(static_cast<int>(result.error)).empty()) << c.name;
  }
}

TEST_P(PostFailure, AnUnresolvableNameEndsWith12007) {
  // The look-up must fail without asking any resolver: the test runs again in a network
  // of its own that has only loopback.
  VEMTU_CONTINUE_ONLY_OFFLINE();
  bool winhttp = GetParam();
  const WinHttpBinding* api = winhttp ? BindWinHttp() : nullptr;
  if (winhttp) {
    ASSERT_NE(api, nullptr);
  }
  PostPlan plan;
  plan.host = "unresolvable-datacentre";
  plan.port = 80;
  plan.body = "a=1";
  PostResult result = winhttp ? PostWinHttp(*api, plan) : PostWinInet(plan);
  EXPECT_EQ(result.error, 12007u) << "failed in " << result.failed;
}

// Every post, failed or not, gives back its sockets and its transfer thread.
TEST_P(PostFailure, LeavesNoDescriptorsOrThreadsBehind) {
  bool winhttp = GetParam();
  const WinHttpBinding* api = winhttp ? BindWinHttp() : nullptr;
  if (winhttp) {
    ASSERT_NE(api, nullptr);
  }
  auto count = [](const char* folder) {
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++entries;
    return entries;
  };
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "1"));
  PostPlan plan;
  plan.port = server.port();
  plan.body = PatternBody(5000);
  auto post = [&] { return winhttp ? PostWinHttp(*api, plan) : PostWinInet(plan); };
  ASSERT_EQ(post().error, 0u);
  std::size_t fds = count("/proc/self/fd");
  std::size_t threads = count("/proc/self/task");
  // The server's connection threads and sockets end a moment after each post (and
  // what earlier tests left may still be ending: counts may only fall).
  auto settled = [&] {
    for (int wait = 0; wait < 100; ++wait) {
      if (count("/proc/self/fd") <= fds && count("/proc/self/task") <= threads) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  };
  ASSERT_TRUE(settled());
  for (int i = 0; i < 30; ++i) EXPECT_EQ(post().error, 0u);
  EXPECT_TRUE(settled()) << count("/proc/self/fd") << " descriptors (" << fds << " before), "
                         << count("/proc/self/task") << " threads (" << threads << " before)";
  server.Stop();  // from here on every post fails to connect
  fds = count("/proc/self/fd");
  threads = count("/proc/self/task");
  for (int i = 0; i < 30; ++i) EXPECT_EQ(post().error, 12029u);
  EXPECT_LE(count("/proc/self/fd"), fds);
  EXPECT_LE(count("/proc/self/task"), threads);
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, PostFailure, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WinHttp" : "WinInet"; });

}  // namespace
}  // namespace vemtu::test
