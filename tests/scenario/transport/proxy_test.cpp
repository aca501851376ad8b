// The proxy methods through a real proxy with Basic authentication on another loopback
// address, and the default proxy taken from the environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <iterator>
#include <memory>

#include "dcsim_process.h"

#include "post_harness.h"
#include "support/agent_runner.h"
#include "support/scripted_server.h"

namespace vemtu::test {
namespace {

constexpr int kCannotConnect = 12029;

class Proxy : public PostHarness {
 protected:
  ScriptedServer server_;
  Run ProxyRun(int method, const std::string& proxy_port, bool credentials) {
    Run run;
    run.method = method;
    run.port = server_.port();
    run.options = {{"proxy-address", "127.0.0.2"}, {"proxy-port", proxy_port}};
    if (credentials) {
      run.options["proxy-user"] = "agent";
      run.options["proxy-password"] = "s3cret";
    }
    return run;
  }
};

TEST_F(Proxy, TheProxyMethodsPostThroughAProxyWithCredentials) {
  if (UnderWine()) {
    GTEST_SKIP() << "wine takes no \"http=http://host:port\" proxy in WinHTTP and sends no "
                    "proxy credentials with a streamed body";
  }
  TinyProxy proxy({"127.0.0.2", "agent", "s3cret"});
  server_.SetDefault(Reply::Status(200, "1"));
  std::size_t n = 0;
  for (int method : {2, 4, 6}) {
    SCOPED_TRACE(ProcedureName(method));
    std::string file = MakeFile("K/X_1.xml", "through the proxy");
    EXPECT_EQ(Post(ProxyRun(method, std::to_string(proxy.port()), true)), 1);
    EXPECT_FALSE(FileExists(file));
    ASSERT_EQ(server_.RequestCount(), ++n);
    RecordedRequest got = server_.Requests().back();
    EXPECT_EQ(got.body, "through the proxy");
    EXPECT_EQ(got.path, "/tfr_X.asp");
    EXPECT_NE(proxy.LogText().find("POST http://127.0.0.1:"), std::string::npos);
    ExpectLog({Started(ProcedureName(method)), ReturnText(ProcedureName(method), "1")});
    std::remove((dir_ / "Log/tfr_X.log").c_str());
  }
}

TEST_F(Proxy, WithoutCredentialsTheProxysRefusalIsTheError) {
  // Under wine the WinINet half only (wine's WinHTTP takes no "http=http://host:port"
  // proxy), through dcsim's proxy: it reads the body before it refuses, where tinyproxy's
  // early 407 is read by wine's WinINet at times as a reply body without a status.
  std::unique_ptr<TinyProxy> tiny;
  dcsim::DcsimProcess sim;
  int proxy_port;
  if (UnderWine()) {
    std::string error;
    ASSERT_TRUE(sim.Start(EnvOr("VEMTU_BIN", ".") + "/dcsim", dir_ / "received",
                          {"--bind", "127.0.0.2", "--proxy-user", "agent", "--proxy-password", "s3cret"},
                          error))
        << error;
    proxy_port = sim.proxy_port;
    std::cout << "[ SKIPPED  ] WinHTTP row: wine's WinHTTP takes no \"http=http://host:port\" proxy\n";
  } else {
    tiny = std::make_unique<TinyProxy>(TinyProxy::Options{"127.0.0.2", "agent", "s3cret"});
    proxy_port = tiny->port();
  }
  server_.SetDefault(Reply::Status(200, "1"));
  for (int method : {2, 6}) {
    if (UnderWine() && method == 2) continue;
    SCOPED_TRACE(ProcedureName(method));
    // A large body: the proxy answers 407 before it reads the body and then closes, and
    // the unread body makes the kernel reset the connection. The refusal must still be
    // the answer. WinHTTP answers the 407 with the Basic scheme and the (empty)
    // credentials, which this proxy refuses with 401.
    std::string file = MakeFile("K/X_1.xml", std::string(1 << 20, 'b'));
    EXPECT_EQ(Post(ProxyRun(method, std::to_string(proxy_port), false)), 0);
    EXPECT_TRUE(FileExists(file));
    std::string log = ReadFileBytes(dir_ / "Log/tfr_X.log");
    std::string label = method == 2 ? "ERR\tWinHTTP.ZHTTPWebPost" : "ERR\tWinInet.ZHTTPWebPost";
    int code = method == 2 ? 401 : 407;
    EXPECT_NE(log.find("\t0\t\t" + std::to_string(code) + "\t0\t" + label + "\t"), std::string::npos)
        << log;
    EXPECT_EQ(log.rfind("MSG: Started "), log.find("MSG: Started ")) << log;
    std::remove((dir_ / "Log/tfr_X.log").c_str());
  }
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(Proxy, AProxyThatIsNotThereCannotBeConnected) {
  int closed_port;
  {
    ScriptedServer::Options options;
    options.address = "127.0.0.2";
    ScriptedServer gone(options);
    closed_port = gone.port();
  }
  for (int method : {2, 6}) {
    SCOPED_TRACE(ProcedureName(method));
    if (UnderWine() && method == 2) {
      std::cout << "[ SKIPPED  ] WinHTTP row: wine's WinHTTP takes no \"http=http://host:port\" "
                   "proxy (12007)\n";
      continue;
    }
    std::string file = MakeFile("K/X_1.xml", "body");
    EXPECT_EQ(Post(ProxyRun(method, std::to_string(closed_port), true)), 0);
    EXPECT_TRUE(FileExists(file));
    std::string label = method == 2 ? "ERR\tWinHTTP.ZHTTPWebPost" : "ERR\tWinInet.ZHTTPWebPost";
    ExpectLog({Started(ProcedureName(method)), ErrorLine(kCannotConnect, label)});
    std::remove((dir_ / "Log/tfr_X.log").c_str());
  }
}

TEST_F(Proxy, TheDefaultProxyComesFromTheEnvironment) {
  TinyProxy proxy({"127.0.0.2", "", ""});
  server_.SetDefault(Reply::Status(200, "1"));
  std::string proxy_url = "http://" + proxy.HostPort();
  setenv("http_proxy", proxy_url.c_str(), 1);
  setenv("VEMTU_WINE_KEEP_PROXY", "1", 1);
  // The configured-proxy methods without a proxy address take the system's setting too
  // (and still hand over the proxy credentials, which this proxy does not ask for).
  const int methods[] = {3, 7, 2, 6};
  for (int method : methods) {
    SCOPED_TRACE(ProcedureName(method));
    std::string file = MakeFile("K/X_1.xml", "by default");
    Run run;
    run.method = method;
    run.port = server_.port();
    if (method == 2 || method == 6) {
      run.options = {{"proxy-user", "agent"}, {"proxy-password", "s3cret"}};
    }
    EXPECT_EQ(Post(run), 1);
    EXPECT_FALSE(FileExists(file));
  }
  ASSERT_EQ(server_.RequestCount(), std::size(methods));
  for (const RecordedRequest& got : server_.Requests()) EXPECT_EQ(got.body, "by default");
  // All went through the proxy: it logged each request for the server.
  std::string log = proxy.LogText();
  std::string target = "POST http://127.0.0.1:" + std::to_string(server_.port()) + "/tfr_X.asp";
  std::size_t seen = 0;
  for (std::size_t at = log.find(target); at != std::string::npos; at = log.find(target, at + 1)) {
    ++seen;
  }
  EXPECT_EQ(seen, std::size(methods)) << log;
}

}  // namespace
}  // namespace vemtu::test

namespace vemtu::test {
namespace {

TEST(ProxyChallenges, AProxyThatRefusesTheCredentialsForeverEndsTheAttempt) {
  ScriptedServer::Options options;
  options.address = "127.0.0.2";
  ScriptedServer proxy(options);
  proxy.SetDefault(Reply::ProxyUnauthorized());
  TempDir dir;
  WriteFileBytes(dir / "K/X_1.xml", "body");
  std::string exe = EnvOr("VEMTU_POST_EXE", EnvOr("VEMTU_BIN", ".") + "/vemtu-post");
  for (int method : {2, 6}) {
    if (UnderWine() && method == 2) {
      std::cout << "[ SKIPPED  ] WinHTTP row: wine sends no proxy credentials with a streamed body\n";
      continue;
    }
    SCOPED_TRACE(method);
    std::size_t before = proxy.RequestCount();
    RunResult run = RunAgent(exe, {"--method", std::to_string(method), "--host", "127.0.0.1",
                                   "--port", "9", "--path", "/tfr_X.asp", "--file", dir / "K/X_1.xml",
                                   "--log", dir / "tfr_X.log", "--proxy-address", "127.0.0.2",
                                   "--proxy-port", std::to_string(proxy.port()), "--proxy-user", "u",
                                   "--proxy-password", "wrong", "--timeout", "10000"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(FileExists(dir / "K/X_1.xml"));
    std::size_t requests = proxy.RequestCount() - before;
    std::string log = ReadFileBytes(dir / "tfr_X.log");
    std::remove((dir / "tfr_X.log").c_str());
    if (method == 2) {
      // WinHTTP: the challenge, then once more with the credentials, then it ends.
      EXPECT_EQ(requests, 2u);
      EXPECT_NE(log.find("\t0\t\t407\t0\tERR\tWinHTTP.ZHTTPWebPost\t"), std::string::npos) << log;
      EXPECT_EQ(proxy.Requests().back().Header("Proxy-Authorization"), "Basic dTp3cm9uZw==");
    } else {
      // WinINet: at most three forced retries after the first request.
      EXPECT_GE(requests, 1u);
      EXPECT_LE(requests, 4u);
      bool ended = log.find("\t0\t\t407\t0\tERR\tWinInet.ZHTTPWebPost\t") != std::string::npos ||
                   log.find("\t0\t\t12032\t0\tERR\tWinInet.ZHTTPWebPost\t") != std::string::npos;
      EXPECT_TRUE(ended) << log << "requests: " << requests;
    }
  }
}

}  // namespace
}  // namespace vemtu::test
