// What both builds put on the wire for the agent's calls: the same request head, header
// for header in the same order (the Linux stand-ins send what the system libraries send),
// and no acceptance of a reply that came before the whole body went out.
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

// The head lines after the request line, as "Name: value".
std::vector<std::string> HeadLines(const RecordedRequest& request) {
  std::vector<std::string> lines;
  for (const auto& [name, value] : request.headers) lines.push_back(name + ": " + value);
  return lines;
}

TEST_F(WireParity, EachLibrarySendsTheSystemLibrarysHead) {
  ScriptedServer server;
  server.SetDefault(Reply::Status(200, "1"));
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port());
  const std::string agent = "User-Agent: Microsoft Internet Explorer";
  struct Case {
    int method;
    std::string version;
    std::vector<std::string> head;
  } cases[] = {
      {1, "HTTP/1.1", {agent, host, "Content-Length: 10", "Connection: Keep-Alive"}},
      {5, "HTTP/1.0",
       {host, "Content-Length: 10", agent, "Cache-Control: no-cache", "Connection: Keep-Alive"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ProcedureName(c.method));
    Run run;
    run.method = c.method;
    run.port = server.port();
    MakeFile(run.file, "body bytes");
    ASSERT_EQ(Post(run), 1);
    RecordedRequest request = server.Requests().back();
    EXPECT_EQ(request.version, c.version);
    EXPECT_EQ(HeadLines(request), c.head);
  }
}

// A server that answers "1" after 65 KB of a 4.4 MB body and closes has not received the
// file: the write fails, and the file stays.
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
    const std::string library = IsWinHttpMethod(method) ? "WinHTTP" : "WinInet";
    // Wine's libraries hand on the socket's own error (10054, reset by the peer) where
    // Windows' give 12030, and Wine's WinINet still ends the request with the early
    // answer, which the entry shows.
    const int error = UnderWine() ? 10054 : 12030;
    const std::string answer = UnderWine() && !IsWinHttpMethod(method) ? "1" : "";
    ExpectLog({Started(ProcedureName(method)),
               ErrorLine(error, "ERR\t" + library + ".ZHTTPWebPost", "", "", answer)});
    std::remove(Native("Log/tfr_X.log").c_str());
  }
}

}  // namespace
}  // namespace vemtu::test
