// libWinHttp.so bound by name: chunked writes, the 401 and 407 flows, certificate checks
// that stay on, the copy without the platform check, and calls that a closed handle ends.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "inet_clients.h"
#include "platform/errors.h"
#include "support/inet_libraries.h"
#include "support/scripted_server.h"
#include "support/test_files.h"
#include "test_bodies.h"
#include "winhttp.h"

namespace vemtu::test {


namespace {

class WinHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    api_ = BindWinHttp();
    ASSERT_NE(api_, nullptr) << "libWinHttp.so did not load beside the test program";
  }
  PostPlan To(const ScriptedServer& server, std::string body = "") {
    PostPlan plan;
    plan.host = server.address();
    plan.port = server.port();
    plan.body = std::move(body);
    return plan;
  }
  const WinHttpBinding* api_ = nullptr;
};

TEST_F(WinHttp, WritesGoOutInTheConfiguredChunkSize) {
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, PatternBody(2500)));
  PostPlan plan = To(server, PatternBody(2500));
  plan.chunk = 1000;
  plan.pause_ms = 100;
  PostResult result = PostWinHttp(*api_, plan);
  ASSERT_EQ(result.error, 0u) << result.failed;
  EXPECT_EQ(result.status, 200u);
  EXPECT_EQ(result.reply, PatternBody(2500));
  ASSERT_EQ(server.RequestCount(), 1u);
  RecordedRequest got = server.Requests()[0];
  EXPECT_EQ(got.request_line, "POST /post HTTP/1.1");
  EXPECT_EQ(got.body, plan.body);
  EXPECT_EQ(got.chunk_sizes, (std::vector<std::size_t>{1000, 1000, 500}));
}

TEST_F(WinHttp, ServerChallengeIsAnsweredWithEmptyBasicCredentials) {
  ScriptedServer server;
  server.SetHandler([](const RecordedRequest& request) {
    return request.Header("Authorization") == "Basic Og==" ? Reply::Status(200, "1")
                                                           : Reply::Unauthorized();
  });
  PostResult result = PostWinHttp(*api_, To(server, "body=1"));
  ASSERT_EQ(result.error, 0u) << result.failed;
  EXPECT_EQ(result.status, 200u);
  EXPECT_EQ(result.reply, "1");
  ASSERT_EQ(server.RequestCount(), 2u);
  EXPECT_FALSE(server.Requests()[0].HasHeader("Authorization"));
  EXPECT_EQ(server.Requests()[1].body, "body=1");  // the whole body, sent again

  // A server that never accepts: the second 401 ends it, with the page delivered.
  server.SetHandler([](const RecordedRequest&) { return Reply::Unauthorized(); });
  PostResult refused = PostWinHttp(*api_, To(server, "body=1"));
  ASSERT_EQ(refused.error, 0u) << refused.failed;
  EXPECT_EQ(refused.status, 401u);
  EXPECT_EQ(refused.sends, 2);
  EXPECT_EQ(refused.reply, "unauthorized");
}

TEST_F(WinHttp, DigestChallengeIsAnsweredAsWell) {
  ScriptedServer server;
  server.SetHandler([](const RecordedRequest& request) {
    if (request.Header("Authorization").rfind("Digest ", 0) == 0) return Reply::Status(200, "1");
    Reply challenge = Reply::Status(401, "digest please");
    challenge.headers.push_back(
        {"WWW-Authenticate", "Digest realm=\"vemtu\", nonce=\"0a1b2c3d\", qop=\"auth\""});
    return challenge;
  });
  PostResult result = PostWinHttp(*api_, To(server, "body=2"));
  ASSERT_EQ(result.error, 0u) << result.failed;
  EXPECT_EQ(result.status, 200u);
  EXPECT_EQ(result.sends, 2);
  RecordedRequest last = server.Requests().back();
  EXPECT_NE(last.Header("Authorization").find("username=\"\""), std::string::npos);
  EXPECT_EQ(last.body, "body=2");
}

TEST_F(WinHttp, ProxyChallengeIsAnsweredWithTheProxyCredentials) {
  TinyProxy proxy(TinyProxy::Options{"127.0.0.2", "agent", "pa55"});
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "1"));
  PostPlan plan = To(server, PatternBody(1 << 20));
  plan.access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  plan.proxy = proxy.HostPort();
  plan.proxy_user = "agent";
  plan.proxy_password = "pa55";
  PostResult result = PostWinHttp(*api_, plan);
  ASSERT_EQ(result.error, 0u) << result.failed;
  EXPECT_EQ(result.status, 200u);
  EXPECT_EQ(result.sends, 2);
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].body, plan.body);

}

TEST_F(WinHttp, OpenProxyForwardsTheBodyInOnePass) {
  TinyProxy proxy;  // no authentication
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "1"));
  // The large body first asks the proxy to agree (tinyproxy never does; the body
  // follows after curl's wait).
  for (std::size_t size : {50000, 300000}) {
    PostPlan plan = To(server, PatternBody(size));
    plan.access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    plan.proxy = "http=http://" + proxy.HostPort();
    PostResult result = PostWinHttp(*api_, plan);
    ASSERT_EQ(result.error, 0u) << result.failed;
    EXPECT_EQ(result.reply, "1");
    EXPECT_EQ(result.sends, 1);
    EXPECT_EQ(server.Requests().back().body, plan.body);
  }
}

TEST_F(WinHttp, SecondProxyChallengeInARowEndsTheExchange) {
  // A proxy that never accepts (tinyproxy answers wrong credentials with 401 instead).
  ScriptedServer proxy(ScriptedServer::Options{"127.0.0.2"});
  proxy.SetDefault(Reply::ProxyUnauthorized());
  PostPlan plan;
  plan.port = 9;
  plan.body = "a=1";
  plan.access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  plan.proxy = "http=http://" + proxy.HostPort();
  plan.proxy_user = "agent";
  plan.proxy_password = "wrong";
  PostResult refused = PostWinHttp(*api_, plan);
  ASSERT_EQ(refused.error, 0u) << refused.failed;
  EXPECT_EQ(refused.status, 407u);
  EXPECT_EQ(refused.sends, 2);
  EXPECT_EQ(refused.reply, "proxy authentication required");
  ASSERT_EQ(proxy.RequestCount(), 2u);
  EXPECT_FALSE(proxy.Requests()[0].HasHeader("Proxy-Authorization"));
  EXPECT_EQ(proxy.Requests()[1].Header("Proxy-Authorization"), "Basic YWdlbnQ6d3Jvbmc=");
  EXPECT_EQ(proxy.Requests()[1].body, "a=1");
}

TEST_F(WinHttp, CertificateChecksStayOnUnlessRelaxed) {
  ScriptedServer server(ScriptedServer::Options{"127.0.0.1", true});
  server.SetDefault(Reply::Status(200, "1"));
  PostPlan plan = To(server, "k=v");
  plan.secure = true;
  PostResult strict = PostWinHttp(*api_, plan);
  EXPECT_EQ(strict.error, static_cast<DWORD>(ERROR_WINHTTP_SECURE_FAILURE));
  EXPECT_EQ(strict.failed, "WinHttpSendRequest");
  EXPECT_EQ(server.RequestCount(), 0u);

  plan.security_ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  PostResult relaxed = PostWinHttp(*api_, plan);
  ASSERT_EQ(relaxed.error, 0u) << relaxed.failed;
  EXPECT_EQ(relaxed.reply, "1");
}

TEST_F(WinHttp, RequestProxyOptionOverridesTheSession) {
  ScriptedServer proxy(ScriptedServer::Options{"127.0.0.2"});
  proxy.SetDefault(Reply::Status(200, "proxied"));
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "direct"));
  HINTERNET session = api_->Open(u"VemtuTest", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = api_->Connect(session, u"127.0.0.1",
                                       static_cast<INTERNET_PORT>(server.port()), 0);
  HINTERNET request = api_->OpenRequest(connection, u"POST", u"/p", nullptr, nullptr, nullptr, 0);
  ASSERT_NE(request, nullptr);

  std::string port = std::to_string(proxy.port());
  std::u16string name = u"127.0.0.2:" + std::u16string(port.begin(), port.end());
  WINHTTP_PROXY_INFO info{WINHTTP_ACCESS_TYPE_NAMED_PROXY, name.data(), nullptr};
  ASSERT_TRUE(api_->SetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info));
  // A proxy name without a host (an empty proxy address) is refused.
  std::u16string hostless = u":8080";
  WINHTTP_PROXY_INFO bad{WINHTTP_ACCESS_TYPE_NAMED_PROXY, hostless.data(), nullptr};
  EXPECT_FALSE(api_->SetOption(request, WINHTTP_OPTION_PROXY, &bad, sizeof bad));
  EXPECT_EQ(platform::LastError(), ERROR_INVALID_PARAMETER);

  ASSERT_TRUE(api_->SendRequest(request, nullptr, 0, nullptr, 0, 0, 0));
  ASSERT_TRUE(api_->ReceiveResponse(request, nullptr));
  EXPECT_EQ(proxy.RequestCount(), 1u);
  EXPECT_EQ(server.RequestCount(), 0u);
  api_->CloseHandle(request);
  api_->CloseHandle(connection);
  api_->CloseHandle(session);
}

TEST_F(WinHttp, DefaultProxyComesFromTheEnvironment) {
  ScriptedServer proxy(ScriptedServer::Options{"127.0.0.2"});
  proxy.SetDefault(Reply::Status(200, "via proxy"));
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "direct"));
  ScopedEnv http_proxy("http_proxy", "http://" + proxy.HostPort());
  PostPlan plan = To(server, "q=1");
  plan.access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  EXPECT_EQ(PostWinHttp(*api_, plan).reply, "via proxy");
  plan.access = WINHTTP_ACCESS_TYPE_NO_PROXY;
  EXPECT_EQ(PostWinHttp(*api_, plan).reply, "direct");
  EXPECT_EQ(proxy.Requests().at(0).target, "http://" + server.HostPort() + "/post");
}

TEST_F(WinHttp, DefaultProxyTunnelsSecureTargets) {
  TinyProxy proxy;
  ScriptedServer server(ScriptedServer::Options{"127.0.0.1", true});
  server.SetDefault(Reply::Status(200, "1"));
  ScopedEnv https_proxy("https_proxy", "http://" + proxy.HostPort());
  PostPlan plan = To(server, "s=1");
  plan.secure = true;
  plan.security_ignore = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
  plan.access = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
  PostResult result = PostWinHttp(*api_, plan);
  ASSERT_EQ(result.error, 0u) << result.failed;
  EXPECT_EQ(result.reply, "1");
  EXPECT_NE(proxy.LogText().find("CONNECT"), std::string::npos) << proxy.LogText();
}

// A call waiting on a silent server returns as soon as another thread closes its
// handle; nothing the waiting call uses is freed under it.
TEST_F(WinHttp, ClosingTheHandleEndsAWaitingCall) {
  ScriptedServer server;
  server.SetDefault(Reply::Of(ReplyKind::kStall));
  HINTERNET session = api_->Open(u"VemtuTest", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = api_->Connect(session, u"127.0.0.1",
                                       static_cast<INTERNET_PORT>(server.port()), 0);
  HINTERNET request = api_->OpenRequest(connection, u"POST", u"/p", nullptr, nullptr, nullptr, 0);
  ASSERT_TRUE(api_->SendRequest(request, nullptr, 0, nullptr, 0, 4, 0));
  DWORD written = 0;
  ASSERT_TRUE(api_->WriteData(request, "abcd", 4, &written));

  int error = 0;
  BOOL received = TRUE;
  std::atomic<bool> calling{false};
  std::thread waiter([&] {
    calling = true;
    received = api_->ReceiveResponse(request, nullptr);
    error = errno;
  });
  ASSERT_TRUE(server.WaitForRequests(1, 5000));
  while (!calling) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the waiter is inside the call
  auto closed_at = std::chrono::steady_clock::now();
  EXPECT_TRUE(api_->CloseHandle(request));
  waiter.join();
  EXPECT_LT(std::chrono::steady_clock::now() - closed_at, std::chrono::seconds(3));
  EXPECT_FALSE(received);
  EXPECT_EQ(error, ERROR_WINHTTP_OPERATION_CANCELLED);
  api_->CloseHandle(connection);
  api_->CloseHandle(session);
}

TEST_F(WinHttp, TheStepTimeOutOptionBoundsTheWholeSend) {
  ScriptedServer server;
  Reply late = Reply::Status(200, "late");
  late.delay_ms = 1200;
  server.SetDefault(late);
  HINTERNET session = api_->Open(u"VemtuTest", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = api_->Connect(session, u"127.0.0.1",
                                       static_cast<INTERNET_PORT>(server.port()), 0);
  for (DWORD bound : {DWORD{300}, DWORD{0}}) {
    HINTERNET request =
        api_->OpenRequest(connection, u"POST", u"/late", nullptr, nullptr, nullptr, 0);
    ASSERT_TRUE(api_->SetOption(request, VEMTU_OPTION_STEP_TIMEOUT, &bound, sizeof bound));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(api_->SendRequest(request, nullptr, 0, nullptr, 0, 4, 0));
    DWORD written = 0;
    ASSERT_TRUE(api_->WriteData(request, "body", 4, &written));
    BOOL received = api_->ReceiveResponse(request, nullptr);
    int error = errno;
    auto took = std::chrono::steady_clock::now() - start;
    if (bound != 0) {
      EXPECT_FALSE(received);
      EXPECT_EQ(error, ERROR_WINHTTP_TIMEOUT);
      EXPECT_LT(took, std::chrono::milliseconds(1000));
    } else {
      EXPECT_TRUE(received);
      EXPECT_GE(took, std::chrono::milliseconds(1100));
    }
    api_->CloseHandle(request);
  }
  api_->CloseHandle(connection);
  api_->CloseHandle(session);
}

TEST_F(WinHttp, LargeBodyStreamsWithFlatMemory) {
#if defined(__SANITIZE_ADDRESS__)
  const std::size_t size = 20u << 20;  // the sanitizer's own bookkeeping is not flat
#else
  const std::size_t size = 200u << 20;
#endif
  ScriptedServer::Options options;
  options.body_keep_limit = 0;
  ScriptedServer server(options);
  server.SetDefault(Reply::Status(200, "1"));
  HINTERNET session = api_->Open(u"VemtuTest", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = api_->Connect(session, u"127.0.0.1",
                                       static_cast<INTERNET_PORT>(server.port()), 0);
  HINTERNET request = api_->OpenRequest(connection, u"POST", u"/big", nullptr, nullptr, nullptr, 0);
  std::string chunk = PatternBody(4096);
  auto peak = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0L;
  };
  ASSERT_TRUE(api_->SendRequest(request, nullptr, 0, nullptr, 0, static_cast<DWORD>(size), 0));
  long before_kb = peak();
  for (std::size_t sent = 0; sent < size; sent += chunk.size()) {
    DWORD written = 0;
    ASSERT_TRUE(api_->WriteData(request, chunk.data(), static_cast<DWORD>(chunk.size()), &written));
  }
  ASSERT_TRUE(api_->ReceiveResponse(request, nullptr));
  long growth_kb = peak() - before_kb;
  RecordProperty("peak_growth_kb", static_cast<int>(growth_kb));
  api_->CloseHandle(request);
  api_->CloseHandle(connection);
  api_->CloseHandle(session);
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].body_size, size);
  EXPECT_TRUE(server.Requests()[0].body_complete);
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(growth_kb, 2048) << "peak resident memory grew by " << growth_kb << " KB";
#endif
}

TEST(WinHttpLibraries, CopyWithoutThePlatformCheckLoadsAsTheFallBack) {
  TempDir folder;
  WriteFileBytes(folder.path() / "libWinHttp.so", "stale");
  ASSERT_TRUE(ProvideOnlyWinHttp5(folder.path().string(), EnvOr("VEMTU_BIN", ".")));
  EXPECT_FALSE(FileExists(folder.path() / "libWinHttp.so"));
  platform::Library fallback = platform::Library::Load((folder.path() / "libWinHttp5.so").string());
  ASSERT_TRUE(fallback.IsLoaded());
  EXPECT_EQ(fallback.Resolve("WinHttpCheckPlatform"), nullptr);
  for (const char* name : {"WinHttpOpen", "WinHttpConnect", "WinHttpOpenRequest",
                           "WinHttpSetCredentials", "WinHttpSendRequest", "WinHttpWriteData",
                           "WinHttpReceiveResponse", "WinHttpQueryHeaders",
                           "WinHttpQueryAuthSchemes", "WinHttpCloseHandle",
                           "WinHttpQueryDataAvailable", "WinHttpReadData", "WinHttpCrackUrl",
                           "WinHttpSetOption"}) {
    EXPECT_NE(fallback.Resolve(name), nullptr) << name;
  }

  platform::Library main = platform::Library::Load("WinHttp.dll");
  ASSERT_TRUE(main.IsLoaded());
  auto check = reinterpret_cast<decltype(&::WinHttpCheckPlatform)>(main.Resolve("WinHttpCheckPlatform"));
  ASSERT_NE(check, nullptr);
  EXPECT_TRUE(check());
}

TEST(WinHttpLibraries, CrackUrlSplitsTheParts) {
  platform::Library library = platform::Library::Load("WinHttp.dll");
  auto crack = reinterpret_cast<decltype(&::WinHttpCrackUrl)>(library.Resolve("WinHttpCrackUrl"));
  ASSERT_NE(crack, nullptr);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
  const char16_t* url = u"https://user:pw@data.example:8443/in/post.asp?x=1";
  ASSERT_TRUE(crack(url, 0, 0, &parts));
  EXPECT_EQ(parts.nScheme, INTERNET_SCHEME_HTTPS);
  EXPECT_EQ(parts.nPort, 8443);
  EXPECT_EQ(std::u16string(parts.lpszHostName, parts.dwHostNameLength), u"data.example");
  EXPECT_EQ(std::u16string(parts.lpszUrlPath, parts.dwUrlPathLength), u"/in/post.asp");
  EXPECT_EQ(std::u16string(parts.lpszExtraInfo, parts.dwExtraInfoLength), u"?x=1");
  EXPECT_FALSE(crack(u"ftp://host/x", 0, 0, &parts));
  EXPECT_EQ(platform::LastError(), ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
}

}  // namespace
}  // namespace vemtu::test
