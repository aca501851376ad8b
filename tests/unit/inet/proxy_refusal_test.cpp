// Proxies that refuse a request: a refusal sent before the body and followed at once by
// a close (the unread body makes the kernel reset the connection), and challenges that
// offer several schemes. Neither library announces an expectation on the wire.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "support/early_answer_server.h"
#include "inet_clients.h"
#include "socket_tracker.h"
#include "support/scripted_server.h"
#include "test_bodies.h"
#include "wininet.h"

namespace vemtu::test {
namespace {

// A proxy that refuses before the body: 407 after the head, then a close.
class HastyProxy : public EarlyAnswerServer {
 public:
  HastyProxy()
      : EarlyAnswerServer("127.0.0.2",
                          "HTTP/1.1 407 Proxy Authentication Required\r\n"
                          "Proxy-Authenticate: Basic realm=\"hasty\"\r\n"
                          "Content-Length: 6\r\nConnection: close\r\n\r\ndenied") {}
};

PostPlan ThroughProxy(const std::string& proxy_list, std::string body) {
  PostPlan plan;
  plan.port = 9;  // never reached: the proxy refuses
  plan.access = 3;  // named proxy in both libraries
  plan.proxy = proxy_list;
  plan.body = std::move(body);
  return plan;
}

class BothLibrariesRefused : public ::testing::TestWithParam<bool> {
 protected:
  PostResult Post(const PostPlan& plan) {
    if (!GetParam()) return PostWinInet(plan);
    const WinHttpBinding* api = BindWinHttp();
    if (!api) {
      ADD_FAILURE() << "libWinHttp.so did not load";
      return {};
    }
    return PostWinHttp(*api, plan);
  }
};

TEST_P(BothLibrariesRefused, TheRefusalBeforeALargeBodyIsTheAnswerEveryTime) {
  HastyProxy proxy;
  std::string body = PatternBody(3 << 20);
  // The reset races the refusal; enough rounds that a lost refusal would show.
  for (int round = 0; round < 15; ++round) {
    SCOPED_TRACE(round);
    PostResult result = Post(ThroughProxy(proxy.HostPort(), body));
    ASSERT_EQ(result.error, 0u) << result.failed;
    EXPECT_EQ(result.status, 407u);
    EXPECT_EQ(result.reply, "denied");
  }
  for (const std::string& head : proxy.Heads()) {
    EXPECT_EQ(head.find("Expect"), std::string::npos) << head;
    EXPECT_NE(head.find("Content-Length: " + std::to_string(body.size()) + "\r\n"),
              std::string::npos) << head;
  }
}

// tinyproxy reads part of the body before it refuses and closes, so the reset often
// reaches the client before curl has read the refusal.
TEST_P(BothLibrariesRefused, TinyproxysRefusalSurvivesTheResetThatFollowsIt) {
  TinyProxy proxy(TinyProxy::Options{"127.0.0.2", "agent", "pa55"});
  std::string body = PatternBody(1 << 20);
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(round);
    PostResult result = Post(ThroughProxy("http=http://" + proxy.HostPort(), body));
    ASSERT_EQ(result.error, 0u) << result.failed;
    // WinHTTP's second pass sends the empty Basic credentials, which tinyproxy refuses
    // with 401.
    EXPECT_EQ(result.status, GetParam() ? 401u : 407u);
  }
}

INSTANTIATE_TEST_SUITE_P(Libraries, BothLibrariesRefused, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "WinHttp" : "WinInet"; });

// A refusal that a reset kept curl from reading is still on the socket when it closes;
// what a pooled connection of an earlier send still holds is not taken for it.
TEST(SocketTracker, KeepsWhatThePeerSentOnThisSendsSocketsWhenClosing) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &where.sin_addr);
  socklen_t length = sizeof where;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
  ASSERT_EQ(listen(listener, 4), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&where), &length), 0);
  inet::SocketTracker sockets;
  // Connects a tracked socket and has the peer send `bytes` and close.
  auto connected = [&](const std::string& bytes) {
    int fd = sockets.Open(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    int peer = accept(listener, nullptr, nullptr);
    if (!bytes.empty()) send(peer, bytes.data(), bytes.size(), 0);
    close(peer);
    return fd;
  };
  std::string refusal = "HTTP/1.1 407 No\r\nContent-Length: 2\r\n\r\nno";

  sockets.Close(connected(""));  // nothing sent: nothing kept
  EXPECT_EQ(sockets.TakeUnread(), "");
  sockets.Close(connected(refusal));
  EXPECT_EQ(sockets.TakeUnread(), refusal);
  EXPECT_EQ(sockets.TakeUnread(), "");  // taken once

  int pooled = connected("HTTP/1.1 200 OK\r\n\r\nstale");
  sockets.Reset();  // the next send
  sockets.Close(pooled);
  EXPECT_EQ(sockets.TakeUnread(), "");
  close(listener);
}

// The scheme of the first credentials sent after a challenge that offers `schemes`,
// through WinINet or (`winhttp`) through WinHTTP with the caller's choice of scheme.
std::string AnswerToChallenge(const std::vector<std::string>& schemes, bool winhttp = false) {
  ScriptedServer proxy(ScriptedServer::Options{"127.0.0.2"});
  Reply challenge = Reply::Status(407, "who?");
  for (const std::string& scheme : schemes) {
    challenge.headers.push_back({"Proxy-Authenticate", scheme});
  }
  proxy.SetDefault(challenge);
  PostPlan plan = ThroughProxy(proxy.HostPort(), "a=1");
  plan.proxy_user = "CORP\\agent";
  plan.proxy_password = "pa55";
  const WinHttpBinding* api = winhttp ? BindWinHttp() : nullptr;
  if (winhttp && !api) return "libWinHttp.so did not load";
  if (api) PostWinHttp(*api, plan);
  else PostWinInet(plan);
  // curl may first send without credentials to learn the challenge itself (Digest).
  for (const RecordedRequest& got : proxy.Requests()) {
    std::string answer = got.Header("Proxy-Authorization");
    if (!answer.empty()) return answer.substr(0, answer.find(' '));
  }
  return "no credentials sent";
}

TEST(ChallengeSchemes, NegotiateThenNtlmThenDigestThenBasic) {
  const std::string kNtlm = "NTLM";
  const std::string kDigest = "Digest realm=\"corp\", nonce=\"abc\", qop=\"auth\"";
  const std::string kBasic = "Basic realm=\"corp\"";
  EXPECT_EQ(AnswerToChallenge({kBasic, kDigest, kNtlm}), "NTLM");
  EXPECT_EQ(AnswerToChallenge({kDigest, kNtlm}), "NTLM");
  EXPECT_EQ(AnswerToChallenge({kBasic, kDigest}), "Digest");
  EXPECT_EQ(AnswerToChallenge({kBasic}), "Basic");
  // Negotiate comes first; with a user name and no Kerberos ticket it goes out as NTLM,
  // as the system's Negotiate package falls back.
  EXPECT_EQ(AnswerToChallenge({"Negotiate", kNtlm, kBasic}), "NTLM");
  // WinHTTP: the caller picks in the same order; the library honours its pick.
  EXPECT_EQ(AnswerToChallenge({"Negotiate", kNtlm, kBasic}, true), "NTLM");
  EXPECT_EQ(AnswerToChallenge({kBasic, kDigest, kNtlm}, true), "NTLM");
}

}  // namespace
}  // namespace vemtu::test
