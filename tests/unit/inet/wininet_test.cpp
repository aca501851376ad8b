// libWinInet.so against the scripted server: streamed bodies, statuses, TLS with the
// relaxed checks, proxies (named, through tinyproxy, from the environment), handles.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "inet_clients.h"
#include "platform/errors.h"
#include "support/scripted_server.h"
#include "test_bodies.h"
#include "wininet.h"

namespace vemtu::test {
namespace {

PostPlan To(const ScriptedServer& server, std::string body = "") {
  PostPlan plan;
  plan.host = server.address();
  plan.port = server.port();
  plan.body = std::move(body);
  return plan;
}

TEST(WinInet, StreamsTheBodyInTheChunksWritten) {
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "1"));
  PostPlan plan = To(server, PatternBody(2500));
  plan.object = "/in/Post.asp?Key=a%20b";
  plan.chunk = 1000;
  plan.pause_ms = 100;

  PostResult result = PostWinInet(plan);
  ASSERT_EQ(result.error, 0u) << result.failed;
  EXPECT_EQ(result.status, 200u);
  EXPECT_EQ(result.reply, "1");
  ASSERT_EQ(server.RequestCount(), 1u);
  RecordedRequest got = server.Requests()[0];
  EXPECT_EQ(got.request_line, "POST /in/Post.asp?Key=a%20b HTTP/1.0");
  EXPECT_EQ(got.query, "Key=a%20b");
  EXPECT_EQ(got.body, plan.body);
  EXPECT_EQ(got.chunk_sizes, (std::vector<std::size_t>{1000, 1000, 500}));
  EXPECT_EQ(got.Header("Content-Length"), "2500");
  EXPECT_EQ(got.Header("User-Agent"), "VemtuTest");
  EXPECT_FALSE(got.HasHeader("Expect"));
  EXPECT_FALSE(got.HasHeader("Content-Type"));
  EXPECT_FALSE(got.HasHeader("Transfer-Encoding"));
}

TEST(WinInet, ObjectNameGoesOnTheRequestLineByteForByte) {
  struct Case {
    const char* object;
    const char* line;
  } cases[] = {
      {"/a/../b", "POST /a/../b HTTP/1.0"},
      {"/x#y?z", "POST /x#y?z HTTP/1.0"},
      {"/caf\xE9?q=\xC3\xA9", "POST /caf\xE9?q=\xC3\xA9 HTTP/1.0"},
      {"/p%41th", "POST /p%41th HTTP/1.0"},
      {"relative", "POST /relative HTTP/1.0"},
  };
  ScriptedServer server;
  for (const Case& c : cases) {
    PostPlan plan = To(server);
    plan.object = c.object;
    PostResult result = PostWinInet(plan);
    ASSERT_EQ(result.error, 0u) << c.object << ": " << result.failed;
    EXPECT_EQ(server.Requests().back().request_line, c.line);
  }
}

TEST(WinInet, EmptyBodyGoesOutWithLengthZero) {
  ScriptedServer server;
  PostResult result = PostWinInet(To(server));
  ASSERT_EQ(result.error, 0u) << result.failed;
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].Header("Content-Length"), "0");
  EXPECT_EQ(server.Requests()[0].body_size, 0u);
}

TEST(WinInet, DeliversStatusAndReplyOfEveryAnswer) {
  struct Case {
    int status;
    std::string reply;
  } cases[] = {{200, "1"}, {200, "0"}, {500, "<html>server error</html>"},
               {404, "not here"}, {302, ""}, {200, PatternBody(700000)}};
  ScriptedServer server;
  for (const Case& c : cases) server.Push(Reply::Status(c.status, c.reply));
  for (const Case& c : cases) {
    PostResult result = PostWinInet(To(server, "x=1"));
    ASSERT_EQ(result.error, 0u) << result.failed;
    EXPECT_EQ(result.status, static_cast<DWORD>(c.status));
    EXPECT_EQ(result.reply, c.reply) << c.status;
  }
}

TEST(WinInet, AnAnswerBeforeTheBodyStands) {
  ScriptedServer server;
  Reply refuse = Reply::Status(413, "too large");
  refuse.before_body = true;
  server.Push(refuse);
  PostResult result = PostWinInet(To(server, PatternBody(4 << 20)));
  ASSERT_EQ(result.error, 0u) << result.failed;
  EXPECT_EQ(result.status, 413u);
  EXPECT_EQ(result.reply, "too large");
  EXPECT_EQ(server.Requests()[0].body_size, 0u);
}

// Kept-alive connections serve later sessions of the process; one that the server closed
// meanwhile (here: on the next request, without a reply) is replaced, and the post goes
// out again on a new connection instead of failing.
TEST(WinInet, KeepsAConnectionAcrossSessionsAndReplacesOneTheServerClosed) {
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "1"));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(PostWinInet(To(server, "a=1")).reply, "1");
  EXPECT_EQ(server.ConnectionCount(), 1u);
  server.Push(Reply::Of(ReplyKind::kDrop));
  PostResult after = PostWinInet(To(server, "a=2"));
  ASSERT_EQ(after.error, 0u) << after.failed;
  EXPECT_EQ(after.reply, "1");
  EXPECT_EQ(server.ConnectionCount(), 2u);
  EXPECT_EQ(server.Requests().back().body, "a=2");
}

TEST(WinInet, RelaxedChecksAcceptASelfSignedCertificate) {
  ScriptedServer server(ScriptedServer::Options{"127.0.0.1", true});
  server.SetDefault(Reply::Status(200, "1"));
  PostPlan plan = To(server, "secret=1");
  plan.secure = true;
  plan.security_ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  PostResult relaxed = PostWinInet(plan);
  ASSERT_EQ(relaxed.error, 0u) << relaxed.failed;
  EXPECT_EQ(relaxed.reply, "1");
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_TRUE(server.Requests()[0].tls);
  EXPECT_EQ(server.Requests()[0].body, "secret=1");

  // The name and date flags alone do not make an unknown authority acceptable.
  plan.security_ignore = 0;
  PostResult strict = PostWinInet(plan);
  EXPECT_EQ(strict.error, static_cast<DWORD>(ERROR_INTERNET_INVALID_CA));
  EXPECT_EQ(strict.failed, "HttpSendRequestExA");
}

TEST(WinInet, NamedProxyFormsAllReachTheProxy) {
  // A scripted server stands in for the proxy: it sees the absolute-form target.
  ScriptedServer proxy(ScriptedServer::Options{"127.0.0.2"});
  proxy.SetDefault(Reply::Status(200, "1"));
  for (std::string list : {"http=http://" + proxy.HostPort(), proxy.HostPort(),
                           "https=127.0.0.9:1 http=" + proxy.HostPort()}) {
    PostPlan plan;
    plan.host = "127.0.0.1";
    plan.port = 9;  // nothing listens there; only the proxy is reached
    plan.access = INTERNET_OPEN_TYPE_PROXY;
    plan.proxy = list;
    plan.body = "a=1";
    PostResult result = PostWinInet(plan);
    ASSERT_EQ(result.error, 0u) << list << ": " << result.failed;
    EXPECT_EQ(proxy.Requests().back().target, "http://127.0.0.1:9/post") << list;
  }
}

TEST(WinInet, ProxyCredentialsGoOutAfterTheChallenge) {
  TinyProxy proxy(TinyProxy::Options{"127.0.0.2", "agent", "pa55"});
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "1"));
  PostPlan plan = To(server, PatternBody(1 << 20));
  plan.access = INTERNET_OPEN_TYPE_PROXY;
  plan.proxy = "http=http://" + proxy.HostPort();

  // Without credentials the proxy's 407 is the answer.
  PostResult refused = PostWinInet(plan);
  ASSERT_EQ(refused.error, 0u) << refused.failed;
  EXPECT_EQ(refused.status, 407u);
  EXPECT_EQ(server.RequestCount(), 0u);

  // With them, the first send meets the challenge and the caller is told to resend.
  plan.proxy_user = "agent";
  plan.proxy_password = "pa55";
  PostResult accepted = PostWinInet(plan);
  ASSERT_EQ(accepted.error, 0u) << accepted.failed;
  EXPECT_EQ(accepted.status, 200u);
  EXPECT_EQ(accepted.sends, 2);
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].body, plan.body);
}

TEST(WinInet, SecureRequestsTunnelThroughTheProxy) {
  TinyProxy proxy(TinyProxy::Options{"127.0.0.2", "agent", "pa55"});
  ScriptedServer server(ScriptedServer::Options{"127.0.0.1", true});
  server.SetDefault(Reply::Status(200, "1"));
  PostPlan plan = To(server, "z=9");
  plan.secure = true;
  plan.security_ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  plan.access = INTERNET_OPEN_TYPE_PROXY;
  plan.proxy = proxy.HostPort();
  plan.proxy_user = "agent";
  plan.proxy_password = "pa55";
  PostResult result = PostWinInet(plan);
  ASSERT_EQ(result.error, 0u) << result.failed;
  EXPECT_EQ(result.reply, "1");
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].target, "/post");  // origin form: inside the tunnel
  EXPECT_TRUE(server.Requests()[0].tls);
}


TEST(WinInet, PreconfiguredAccessUsesTheEnvironmentAndDirectIgnoresIt) {
  ScriptedServer proxy(ScriptedServer::Options{"127.0.0.2"});
  proxy.SetDefault(Reply::Status(200, "via proxy"));
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "direct"));
  ScopedEnv http_proxy("http_proxy", "http://" + proxy.HostPort());

  PostPlan plan = To(server, "q=1");
  plan.access = INTERNET_OPEN_TYPE_PRECONFIG;
  EXPECT_EQ(PostWinInet(plan).reply, "via proxy");
  plan.access = INTERNET_OPEN_TYPE_DIRECT;
  EXPECT_EQ(PostWinInet(plan).reply, "direct");
  {
    ScopedEnv no_proxy("no_proxy", "127.0.0.1");
    plan.access = INTERNET_OPEN_TYPE_PRECONFIG;
    EXPECT_EQ(PostWinInet(plan).reply, "direct");
  }
  EXPECT_EQ(proxy.RequestCount(), 1u);
  EXPECT_EQ(server.RequestCount(), 2u);
}

TEST(WinInet, RefusesBadHandlesAndRequestLineBytes) {
  HINTERNET session = InternetOpenA("VemtuTest", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(session, nullptr);
  HINTERNET connection =
      InternetConnectA(session, "127.0.0.1", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  ASSERT_NE(connection, nullptr);
  for (const char* object : {"/a b", "/a\r\nX: y", "/a\tb", "/\x7f"}) {
    EXPECT_EQ(HttpOpenRequestA(connection, "POST", object, nullptr, nullptr, nullptr, 0, 0),
              nullptr);
    EXPECT_EQ(platform::LastError(), ERROR_INTERNET_INVALID_URL);
  }
  // A session handle where a connection belongs, a handle never handed out.
  EXPECT_EQ(HttpOpenRequestA(session, "POST", "/", nullptr, nullptr, nullptr, 0, 0), nullptr);
  EXPECT_EQ(platform::LastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
  int not_a_handle = 0;
  EXPECT_FALSE(InternetCloseHandle(&not_a_handle));
  EXPECT_EQ(platform::LastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(InternetCloseHandle(connection));
  EXPECT_FALSE(InternetCloseHandle(connection));
  EXPECT_TRUE(InternetCloseHandle(session));
}

// The bound on a whole send ends a send that waits within its per-call time-outs, and
// counts from when it was set; without it the late answer arrives.
TEST(WinInet, TheStepTimeOutOptionBoundsTheWholeSend) {
  ScriptedServer server;
  Reply late = Reply::Status(200, "late");
  late.delay_ms = 1200;
  server.SetDefault(late);
  HINTERNET session = InternetOpenA("VemtuTest", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connection =
      InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(server.port()), nullptr,
                       nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  struct Case {
    DWORD bound_ms;
    bool answered;
  } cases[] = {{300, false}, {0xFFFFFFFF, true}, {0, true}};
  for (const Case& c : cases) {
    HINTERNET request =
        HttpOpenRequestA(connection, "POST", "/late", "HTTP/1.0", nullptr, nullptr, 0, 0);
    ASSERT_NE(request, nullptr);
    DWORD bound = c.bound_ms;
    ASSERT_TRUE(InternetSetOptionA(request, VEMTU_OPTION_STEP_TIMEOUT, &bound, sizeof bound));
    auto start = std::chrono::steady_clock::now();
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = 4;
    ASSERT_TRUE(HttpSendRequestExA(request, &buffers, nullptr, HSR_INITIATE, 0));
    DWORD written = 0;
    ASSERT_TRUE(InternetWriteFile(request, "body", 4, &written));
    BOOL ended = HttpEndRequestA(request, nullptr, 0, 0);
    int error = errno;
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(ended != FALSE, c.answered) << c.bound_ms;
    if (c.answered) {
      EXPECT_GE(took, std::chrono::milliseconds(1100));
    } else {
      EXPECT_EQ(error, ERROR_INTERNET_TIMEOUT);
      EXPECT_LT(took, std::chrono::milliseconds(1000));
    }
    InternetCloseHandle(request);
  }
  // Only a request takes the bound.
  DWORD bound = 300;
  EXPECT_FALSE(InternetSetOptionA(connection, VEMTU_OPTION_STEP_TIMEOUT, &bound, sizeof bound));
  InternetCloseHandle(connection);
  InternetCloseHandle(session);
}

TEST(WinInet, MessageTableCoversItsCodes) {
  for (DWORD code : {12002u, 12007u, 12029u, 12030u, 12031u, 12032u, 12045u, 12152u}) {
    const char* text = VemtuInetMessageText(code);
    ASSERT_NE(text, nullptr) << code;
    EXPECT_EQ(std::string(text).substr(std::string(text).size() - 2), "\r\n");
  }
  EXPECT_EQ(VemtuInetMessageText(12999), nullptr);
  EXPECT_EQ(VemtuInetMessageText(2), nullptr);
  // The platform finds it because this program has the library loaded.
  EXPECT_EQ(platform::ErrorText(12031), "The connection with the server was reset");
}

}  // namespace
}  // namespace vemtu::test
