// What both builds put on the wire for the agent's calls: the same request head, line for
// line (the Linux stand-ins send what the system libraries send), and no acceptance of an
// answer that came before the whole body went out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "post_harness.h"
#include "support/agent_runner.h"
#include "support/early_answer_server.h"
#include "support/scripted_server.h"

namespace vemtu::test {
namespace {

using WireParity = PostHarness;

TEST_F(WireParity, EachLibrarySendsTheSystemLibrarysHead) {
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "1"));
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port());
  const std::string agent = "User-Agent: Microsoft Internet Explorer";
  const std::vector<std::string> heads[] = {
      {"HTTP/1.1", agent, host, "Content-Length: 10", "Connection: Keep-Alive"},
      {"HTTP/1.0", host, "Content-Length: 10", agent, "Cache-Control: no-cache",
       "Connection: Keep-Alive"}};
  for (int method : {1, 5}) {
    Run run;
    run.method = method;
    run.port = server.port();
    MakeFile(run.file, "body bytes");
    ASSERT_EQ(Post(run), 1);
    RecordedRequest request = server.Requests().back();
    std::vector<std::string> head = {request.version};
    for (const auto& [name, value] : request.headers) head.push_back(name + ": " + value);
    EXPECT_EQ(head, heads[method == 1 ? 0 : 1]) << ProcedureName(method);
  }
}

// "1" after 65 KB of a 4.4 MB body, then a close: the write fails and the file stays.
TEST_F(WireParity, AnAnswerBeforeTheWholeBodyIsNoAcceptance) {
  EarlyAnswerServer early("127.0.0.1", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n1",
                          65 * 1024);
  for (int method : {1, 5}) {
    SCOPED_TRACE(ProcedureName(method));
    Run run;
    run.method = method;
    run.port = early.port();
    std::string file = MakeFile(run.file, std::string(4400 * 1024, 'x'));
    EXPECT_EQ(Post(run), 0);
    EXPECT_TRUE(FileExists(file));
    const bool winhttp = IsWinHttpMethod(method);
    // Wine's libraries give the socket's error (10054) where Windows' give 12030, and
    // Wine's WinINet still ends the request with the early answer, which the entry shows.
    ExpectLog({Started(ProcedureName(method)),
               ErrorLine(UnderWine() ? 10054 : 12030,
                         std::string("ERR\t") + (winhttp ? "WinHTTP" : "WinInet") + ".ZHTTPWebPost",
                         "", "", UnderWine() && !winhttp ? "1" : "")});
    std::remove(Native("Log/tfr_X.log").c_str());
  }
}

}  // namespace
}  // namespace vemtu::test
