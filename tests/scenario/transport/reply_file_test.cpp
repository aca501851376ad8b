// A reply that goes to a reply file instead of memory, through both connections: the
// file is written from its start without being cut, a reply read whole stays (also the
// page of an HTTP error status), and only a reply that could not be read whole is
// removed.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/agent_runner.h"
#include "support/scripted_server.h"
#include "support/test_files.h"
#include "transport/http_connect.h"
#include "transport/winhttp_connect.h"

namespace vemtu::test {
namespace {

constexpr unsigned long kTimeoutMs = 10000;

struct Outcome {
  int result = -1;
  std::uint32_t error = 0;
  std::string reply_text;
  int reply_length = 0;
};

// Posts "body" to the server and sends the reply to `reply_file`.
using Poster = std::function<Outcome(int port, const std::string& reply_file)>;

Outcome PostWinInet(int port, const std::string& reply_file) {
  CZHTTPConnect connect(kTimeoutMs);
  Outcome out;
  if (!connect.ZInternetOpen("agent", 1, nullptr) ||
      !connect.ZInternetConnect("127.0.0.1", static_cast<std::uint16_t>(port), "HTTP") ||
      !connect.ZHTTPOpenRequest("/reply", "POST")) {
    ADD_FAILURE() << "WinINet set-up failed: " << connect.ZGetLastError();
    return out;
  }
  out.result = connect.ZHTTPWebPost(nullptr, reply_file.c_str(), "body", 4, nullptr, nullptr,
                                    &out.reply_text, &out.reply_length);
  out.error = connect.ZGetLastError();
  return out;
}

Outcome PostWinHttp(int port, const std::string& reply_file) {
  CZWinHTTPConnect connect(kTimeoutMs);
  Outcome out;
  if (!connect.ZLoadWinHttp() ||
      !connect.ZInternetOpen(u"agent", CZWinHTTPConnect::kAccessNoProxy, nullptr) ||
      !connect.ZInternetConnect(u"127.0.0.1", static_cast<std::uint16_t>(port), u"HTTP") ||
      !connect.ZHTTPOpenRequest(u"/reply", u"POST")) {
    ADD_FAILURE() << "WinHTTP set-up failed: " << connect.ZGetLastError();
    return out;
  }
  out.result = connect.ZHTTPWebPost(nullptr, reply_file.c_str(), "body", 4, nullptr, nullptr,
                                    &out.reply_text, &out.reply_length, false);
  out.error = connect.ZGetLastError();
  connect.ZReset();
  return out;
}

class NativeOnlyReplyFile : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (UnderWine()) GTEST_SKIP() << "an in-process test of the native build";
  }
  Poster poster() const {
    return std::string(GetParam()) == "WinInet" ? Poster(PostWinInet) : Poster(PostWinHttp);
  }
  ScriptedServer server_;
  TempDir dir_;
};

TEST_P(NativeOnlyReplyFile, IsWrittenFromItsStartWithoutCuttingAnOlderLongerContent) {
  server_.Push(Reply::Status(200, "1"));
  std::string file = dir_ / "reply.txt";
  WriteFileBytes(file, "0123456789");
  Outcome out = poster()(server_.port(), file);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.error, 0u);
  EXPECT_EQ(ReadFileBytes(file), "1123456789");
  // The reply went to the file, not to the caller.
  EXPECT_EQ(out.reply_text, "");
  EXPECT_EQ(out.reply_length, 0);
}

TEST_P(NativeOnlyReplyFile, ThePageOfAnErrorStatusIsKeptWhenItWasReadWhole) {
  server_.Push(Reply::Status(500, "page of 500"));
  std::string file = dir_ / "reply.txt";
  Outcome out = poster()(server_.port(), file);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.error, 500u);
  ASSERT_TRUE(FileExists(file));
  EXPECT_EQ(ReadFileBytes(file), "page of 500");
}

TEST_P(NativeOnlyReplyFile, AReplyCutShortIsRemoved) {
  Reply cut = Reply::Status(200, "only part");
  cut.headers = {{"Content-Length", "5000"}};
  cut.close = true;
  server_.Push(cut);
  std::string file = dir_ / "reply.txt";
  Outcome out = poster()(server_.port(), file);
  EXPECT_EQ(out.result, 0);
  EXPECT_NE(out.error, 0u);
  EXPECT_FALSE(FileExists(file));
}

INSTANTIATE_TEST_SUITE_P(Connections, NativeOnlyReplyFile, ::testing::Values("WinInet", "WinHTTP"));

}  // namespace
}  // namespace vemtu::test
