// Each way a post can fail, through both libraries: the call fails with the library's
// 12xxx code in the thread's last-error slot.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "inet_clients.h"
#include "platform/errors.h"
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
      {"unresolvable name",
       [](ScriptedServer&, PostPlan& plan) { plan.host = "nonexistent.invalid"; }, 12007, 12007},
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

INSTANTIATE_TEST_SUITE_P(BothLibraries, PostFailure, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WinHttp" : "WinInet"; });

}  // namespace
}  // namespace vemtu::test
