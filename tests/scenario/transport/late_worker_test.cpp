// A POST that overruns the connection's time-out: where it runs on a worker, the worker
// is left to finish and must find everything it uses still alive after the connection
// that started it is gone (the AddressSanitizer build proves it); where the library
// bounds the send itself (Linux), the send ends at the time-out. Either way the late
// result must not reach the connection.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/agent_runner.h"
#include "support/scripted_server.h"
#include "support/test_files.h"
#include "transport/http_connect.h"
#include "transport/winhttp_connect.h"

namespace vemtu::test {
namespace {

constexpr unsigned long kShortTimeoutMs = 300;

Reply LateAnswer() {
  Reply reply = Reply::Status(200, "late reply");
  reply.delay_ms = 1200;
  return reply;
}

TEST(NativeOnlyLateWorker, AnAbandonedWinInetWorkerFinishesAfterItsConnectionIsGone) {
  if (UnderWine()) GTEST_SKIP() << "an in-process test of the native build";
  ScriptedServer server;
  server.SetDefault(LateAnswer());
  std::string port_text = std::to_string(server.port());
  {
    CZHTTPConnect connect(kShortTimeoutMs);
    ASSERT_EQ(connect.ZInternetOpen("agent", 1, nullptr), 1);
    ASSERT_EQ(connect.ZInternetConnect("127.0.0.1", static_cast<std::uint16_t>(server.port()), "HTTP"), 1);
    ASSERT_EQ(connect.ZHTTPOpenRequest("/late", "POST"), 1);
    std::string reply;
    int length = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(connect.ZHTTPWebPost(nullptr, nullptr, "body", 4, "<", ">", &reply, &length), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(connect.ZGetLastError(), 12002u);
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(length, 0);
  }
  ASSERT_TRUE(server.WaitForRequests(1, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the worker reads and ends
  EXPECT_EQ(server.Requests()[0].body, "<body>");
}

TEST(NativeOnlyLateWorker, AnAbandonedWinHttpWorkerKeepsTheLibraryUntilItEnds) {
  if (UnderWine()) GTEST_SKIP() << "an in-process test of the native build";
  ScriptedServer server;
  server.SetDefault(LateAnswer());
  {
    CZWinHTTPConnect connect(kShortTimeoutMs);
    ASSERT_EQ(connect.ZLoadWinHttp(), 1);
    ASSERT_EQ(connect.ZInternetOpen(u"agent", CZWinHTTPConnect::kAccessNoProxy, nullptr), 1);
    ASSERT_EQ(connect.ZInternetConnect(u"127.0.0.1", static_cast<std::uint16_t>(server.port()), u"HTTP"), 1);
    ASSERT_EQ(connect.ZHTTPOpenRequest(u"/late", u"POST"), 1);
    std::string reply;
    int length = 0;
    EXPECT_EQ(connect.ZHTTPWebPost(nullptr, nullptr, "body", 4, nullptr, nullptr, &reply, &length, false), 0);
    EXPECT_EQ(connect.ZGetLastError(), 12002u);
    // The attempt ends as a send procedure ends it; then the library is let go.
    connect.ZReset();
    EXPECT_EQ(connect.ZUnloadWinHttp(), 1);
    EXPECT_EQ(connect.ZGetLastError(), 0u);
  }
  ASSERT_TRUE(server.WaitForRequests(1, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(server.Requests()[0].body, "body");
}

}  // namespace
}  // namespace vemtu::test
