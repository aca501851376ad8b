// Servers and proxies that fail: each attempt ends with one error entry carrying the
// failure's number, and the file stays where it was.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "post_harness.h"
#include "support/agent_runner.h"
#include "support/offline.h"
#include "support/scripted_server.h"

namespace vemtu::test {
namespace {

// Error numbers of the transport's libraries.
constexpr int kTimeout = 12002;
constexpr int kNameNotResolved = 12007;
constexpr int kCannotConnect = 12029;
constexpr int kInvalidServerResponse = 12152;
constexpr int kSecureFailure = 12175;
constexpr int kWineSecureFailure = 12157;

std::string Label(int method) { return IsWinHttpMethod(method) ? "WinHTTP" : "WinInet"; }

class Faults : public PostHarness {
 protected:
  // Runs `method` against `run` and expects exactly the start entry and one error entry
  // "ERR\t<library>.ZHTTPWebPost" with `error`, the file left in place.
  void ExpectPostFailure(int method, Run run, int error) {
    SCOPED_TRACE(ProcedureName(method));
    run.method = method;
    std::string file = MakeFile(run.file, "body bytes");
    EXPECT_EQ(Post(run), 0);
    EXPECT_TRUE(FileExists(file));
    ExpectLog({Started(ProcedureName(method)),
               ErrorLine(error, "ERR\t" + Label(method) + ".ZHTTPWebPost")});
    std::remove((dir_ / "Log/tfr_X.log").c_str());
  }
};

TEST_F(Faults, RefusedPort) {
  int closed_port;
  {
    ScriptedServer gone;
    closed_port = gone.port();
  }
  for (int method : {1, 5}) {
    Run run;
    run.port = closed_port;
    ExpectPostFailure(method, run, kCannotConnect);
  }
}

TEST_F(Faults, UnresolvableName) {
  // The look-up must fail without asking any resolver: the test runs again in a network
  // of its own that has only loopback.
  VEMTU_CONTINUE_ONLY_OFFLINE();
  for (int method : {1, 5}) {
    Run run;
    run.host = "unresolvable-datacentre";
    run.port = 80;
    ExpectPostFailure(method, run, kNameNotResolved);
  }
}

TEST_F(Faults, AServerThatStallsPastTheTimeOutEndsTheAttemptInTime) {
  ScriptedServer server;
  server.SetDefault(Reply::Of(ReplyKind::kStall));
  for (int method : {1, 5}) {
    Run run;
    run.port = server.port();
    run.timeout_ms = 1500;
    auto start = std::chrono::steady_clock::now();
    ExpectPostFailure(method, run, kTimeout);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(10));
  }
}

TEST_F(Faults, GarbageInsteadOfAnHttpReply) {
  ScriptedServer server;
  Reply garbage = Reply::Of(ReplyKind::kGarbage);
  garbage.body = "\x01\x02 this is not HTTP at all\r\n\r\n";
  server.SetDefault(garbage);
  for (int method : {1, 5}) {
    if (UnderWine() && method == 5) {
      std::cout << "[ SKIPPED  ] WinINet row: wine's WinINet takes bytes that are not HTTP as a "
                   "reply body\n";
      continue;
    }
    Run run;
    run.port = server.port();
    ExpectPostFailure(method, run, kInvalidServerResponse);
  }
}

TEST_F(Faults, AConnectionResetMidBodyFailsWithAResetCode) {
  ScriptedServer server;
  Reply reset = Reply::Of(ReplyKind::kResetMidBody);
  reset.reset_after = 20000;
  server.SetDefault(reset);
  for (int method : {1, 5}) {
    SCOPED_TRACE(ProcedureName(method));
    std::string file = MakeFile("K/X_1.xml", std::string(2 << 20, 'r'));
    Run run;
    run.method = method;
    run.port = server.port();
    EXPECT_EQ(Post(run), 0);
    EXPECT_TRUE(FileExists(file));
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 2u);
    bool reset_code = lines[1].find("\t0\t\t12030\t0\t") != std::string::npos ||
                      lines[1].find("\t0\t\t12031\t0\t") != std::string::npos;
    // Wine passes the socket's own code through instead of the library's.
    if (UnderWine()) reset_code = reset_code || lines[1].find("\t0\t\t10054\t0\t") != std::string::npos;
    EXPECT_TRUE(reset_code) << lines[1];
    std::remove((dir_ / "Log/tfr_X.log").c_str());
  }
}

TEST_F(Faults, AMissingBodyFileSendsNothing) {
  ScriptedServer server;
  MakeFile("K/present.xml", "");  // the folder exists, the file does not
  for (int method : {1, 5, 7}) {
    SCOPED_TRACE(ProcedureName(method));
    Run run;
    run.method = method;
    run.port = server.port();
    run.file = "K/missing.xml";
    EXPECT_EQ(Post(run), 0);
    ExpectLog({Started(ProcedureName(method)), ErrorLine(2, "ERR\t" + Label(method) + ".ZHTTPWebPost")});
    std::remove((dir_ / "Log/tfr_X.log").c_str());
  }
  EXPECT_EQ(server.RequestCount(), 0u);
}

// Natively a file without read permission; under wine a file that another process holds
// open without sharing, which keeps even root out.
TEST_F(Faults, AnUnreadableBodyFileSendsNothing) {
  ScriptedServer server;
  std::string file = MakeFile("K/X_1.xml", "secret");
  int holder = -1;
  if (UnderWine()) {
    std::string pid_file = dir_ / "holder.pid";
    holder = StartAgent(EnvOr("VEMTU_WINDOWS_BIN", "") + "/startup_sleeper.exe",
                        {ProgramPath("holder.pid"), "120", "file", ProgramPath("K/X_1.xml"), "secret"});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!FileExists(pid_file) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(FileExists(pid_file)) << "the holder did not start";
  } else {
    std::filesystem::permissions(file, std::filesystem::perms::none);
    if (std::ifstream(file).good()) {
      std::filesystem::permissions(file, std::filesystem::perms::owner_all);
      GTEST_SKIP() << "this user reads files without read permission (root)";
    }
  }
  // The platform's own code: ERROR_SHARING_VIOLATION on Windows, EACCES on Linux.
  const int kUnreadable = UnderWine() ? 32 : 13;
  for (int method : {1, 5}) {
    Run run;
    run.method = method;
    run.port = server.port();
    EXPECT_EQ(Post(run), 0);
    ExpectLog({Started(ProcedureName(method)), ErrorLine(kUnreadable, "ERR\t" + Label(method) + ".ZHTTPWebPost")});
    std::remove((dir_ / "Log/tfr_X.log").c_str());
  }
  EXPECT_EQ(server.RequestCount(), 0u);
  if (holder > 0) {
    WaitAgent(holder, 0);  // ends the holder
  } else {
    std::filesystem::permissions(file, std::filesystem::perms::owner_all);
  }
  EXPECT_EQ(ReadFileBytes(file), "secret");
}

TEST_F(Faults, SelfSignedCertificateIsAcceptedByWinInetAndRefusedByWinHttp) {
  ScriptedServer::Options options;
  options.tls = true;
  ScriptedServer server(options);
  server.SetDefault(Reply::Status(200, "1"));
  Run run;
  run.port = server.port();
  run.scheme = "HTTPS";
  run.method = 5;
  std::string file = MakeFile("K/X_1.xml", "secure body");
  EXPECT_EQ(Post(run), 1);
  EXPECT_FALSE(FileExists(file));
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_TRUE(server.Requests()[0].tls);
  EXPECT_EQ(server.Requests()[0].body, "secure body");
  std::remove((dir_ / "Log/tfr_X.log").c_str());

  // Wine's WinHTTP refuses it too, with another number.
  ExpectPostFailure(1, run, UnderWine() ? kWineSecureFailure : kSecureFailure);

  // The operator's switch makes the WinINet methods check it as well: nothing is sent.
  MakeFile("K/X_1.xml", "secure body");
  run.options = {{"wininet-check-certificates", "1"}};
  EXPECT_EQ(Post(run), 0);
  EXPECT_TRUE(FileExists(file));
  EXPECT_EQ(server.RequestCount(), 1u);
}

}  // namespace
}  // namespace vemtu::test
