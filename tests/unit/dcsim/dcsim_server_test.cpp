// The simulator as a program, driven over loopback with libcurl.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "dcsim_process.h"
#include "support/test_files.h"

namespace {

using vemtu::test::ReadFileBytes;
using vemtu::test::TempDir;
using vemtu::test::WriteFileBytes;

constexpr const char* kQuery = "?mmid=M&sid=S&rid=R&rty=T";

struct Answer {
  long status = 0;
  std::string body;
  CURLcode code = CURLE_OK;
};

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

Answer Post(const std::string& url, const std::string& body, const std::string& proxy = "",
            const std::string& proxy_credentials = "") {
  Answer answer;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
  curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
  if (!proxy_credentials.empty()) {
    curl_easy_setopt(curl, CURLOPT_PROXYUSERPWD, proxy_credentials.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
  }
  answer.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_easy_cleanup(curl);
  return answer;
}

class DcsimServer : public ::testing::Test {
 protected:
  void Start(const std::vector<std::string>& extra) {
    std::string error;
    ASSERT_TRUE(
        sim_.Start(vemtu::test::EnvOr("VEMTU_BIN", ".") + "/dcsim", dir_ / "out", extra, error))
        << error;
  }
  std::string Http(const std::string& page) {
    return "http://127.0.0.1:" + std::to_string(sim_.http_port) + page + kQuery;
  }
  std::string Https(const std::string& page) {
    return "https://127.0.0.1:" + std::to_string(sim_.https_port) + page + kQuery;
  }
  std::string Proxy() { return "http://127.0.0.1:" + std::to_string(sim_.proxy_port); }

  TempDir dir_;
  dcsim::DcsimProcess sim_;
};

TEST_F(DcsimServer, StoresEachRequestAndAnswersOneByDefault) {
  Start({});
  std::string big(300000, 'x');  // large enough for "Expect: 100-continue"
  EXPECT_EQ(Post(Http("/dc/tfr_ABC.asp"), "first").body, "1");
  EXPECT_EQ(Post(Https("/tfr_XY.asp"), big).body, "1");
  auto index = dcsim::ReadIndex(sim_.out_folder);
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(index[0].via, "http");
  EXPECT_EQ(index[0].target, std::string("/dc/tfr_ABC.asp") + kQuery);
  EXPECT_EQ(index[0].prefix, "ABC");
  EXPECT_EQ(index[1].via, "https");
  EXPECT_EQ(index[1].body_bytes, big.size());
  EXPECT_EQ(ReadFileBytes(dir_ / "out/000001.body"), "first");
  EXPECT_EQ(ReadFileBytes(dir_ / "out/000002.body"), big);
  EXPECT_EQ(ReadFileBytes(dir_ / "out/000001.head")
                .rfind("POST /dc/tfr_ABC.asp?mmid=M&sid=S&rid=R&rty=T HTTP/1.1\r\n", 0),
            0u);
}

TEST_F(DcsimServer, RepliesFollowTheRulesAndTheScriptFileAsItChanges) {
  std::string script = dir_ / "rules.txt";
  WriteFileBytes(
      script,
      "prefix=ZERO reply=0\nprefix=PAGE status=404 page=gone\nrequest=3 reply=hello\\sthere\n");
  Start({"--script", script, "--rule", "prefix=SLOW delay=300", "--rule", "prefix=DROP drop"});
  EXPECT_EQ(Post(Http("/tfr_ZERO.asp"), "a").body, "0");
  Answer page = Post(Http("/tfr_PAGE.asp"), "a");
  EXPECT_EQ(page.status, 404);
  EXPECT_EQ(page.body, "gone");
  EXPECT_EQ(Post(Http("/tfr_ZERO.asp"), "a").body, "hello there");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Post(Http("/tfr_SLOW.asp"), "a").body, "1");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  Answer dropped = Post(Http("/tfr_DROP.asp"), "a");
  EXPECT_EQ(dropped.code, CURLE_GOT_NOTHING);
  EXPECT_EQ(Post(Http("/bad.asp"), "a").status, 404);

  WriteFileBytes(script, "prefix=ZERO reply=now\\sone\n# edited\n");
  EXPECT_EQ(Post(Http("/tfr_ZERO.asp"), "a").body, "now one");
  auto index = dcsim::ReadIndex(sim_.out_folder);
  ASSERT_EQ(index.size(), 7u);
  EXPECT_EQ(index[4].status, "drop");  // stored although never answered
  EXPECT_EQ(index[5].status, "404");
}

TEST_F(DcsimServer, ProxyDemandsCredentialsAndServesASiteWhereNothingListens) {
  Start({"--proxy-user", "pu", "--proxy-password", "pw"});
  // Nothing listens on 127.0.0.9: the site is reached through the proxy only.
  const std::string plain = "http://127.0.0.9:9/tfr_P.asp" + std::string(kQuery);
  const std::string tls = "https://127.0.0.9:9/tfr_Q.asp" + std::string(kQuery);
  EXPECT_NE(Post(plain, "x").code, CURLE_OK);
  EXPECT_EQ(Post(plain, "x", Proxy()).status, 407);
  EXPECT_EQ(Post(plain, "x", Proxy(), "pu:wrong").status, 407);
  EXPECT_EQ(Post(plain, "via proxy", Proxy(), "pu:pw").body, "1");
  EXPECT_EQ(Post(tls, "via tunnel", Proxy(), "pu:pw").body, "1");
  auto served = dcsim::ReadIndex(sim_.out_folder);
  ASSERT_EQ(served.size(), 2u);  // only what reached the data centre has files
  EXPECT_EQ(served[0].via, "proxy");
  EXPECT_EQ(served[0].target, "/tfr_P.asp" + std::string(kQuery));
  EXPECT_EQ(served[1].via, "tunnel");
  EXPECT_EQ(ReadFileBytes(dir_ / "out/000002.body"), "via tunnel");

  // The whole index also names the refusals and the tunnel, with what was answered.
  std::vector<std::string> seen;
  for (const auto& line : dcsim::ReadIndex(sim_.out_folder, true))
    seen.push_back(line.method + " " + line.status + " " + line.reply);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "POST 407 proxy credentials required (none given)",
                      "POST 407 proxy credentials required (wrong ones given)",
                      "POST 200 1",
                      "CONNECT 200 tunnel to the HTTPS service",
                      "POST 200 1",
                  }));
}

// A loopback TCP connection to `port` that the test writes raw bytes into.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ =
        fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawConnection() {
    if (fd_ >= 0) close(fd_);
  }
  RawConnection(RawConnection&& other) noexcept : fd_(other.fd_), connected_(other.connected_) {
    other.fd_ = -1;
  }
  RawConnection& operator=(RawConnection&&) = delete;
  bool connected() const { return connected_; }
  void Send(const std::string& bytes) {
    ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  }
  // True when the server closed the connection within `seconds`.
  bool ClosedWithin(int seconds) {
    timeval wait{seconds, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    char byte;
    return recv(fd_, &byte, 1, 0) == 0;
  }

 private:
  int fd_;
  bool connected_ = false;
};

TEST_F(DcsimServer, IdleConnectionsAreClosedAndNeverLockOthersOut) {
  Start({"--idle-seconds", "1"});
  // More silent connections than a simulator of fixed capacity would take.
  std::vector<RawConnection> idle;
  for (int i = 0; i < 600; ++i) {
    idle.emplace_back(sim_.http_port);
    ASSERT_TRUE(idle.back().connected()) << i;
  }
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Post(Http("/tfr_A.asp"), "still served").body, "1");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(idle.front().ClosedWithin(5));
  EXPECT_TRUE(idle.back().ClosedWithin(5));
}

TEST_F(DcsimServer, CutRequestsAndFailedHandshakesAreIndexed) {
  Start({"--idle-seconds", "1"});
  {
    RawConnection cut(sim_.http_port);
    cut.Send(std::string("POST /tfr_C.asp") + kQuery +
             " HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nonly part");
  }
  {
    RawConnection head(sim_.http_port);
    head.Send("POST /tfr_H.asp HTTP/1.1\r\nHost: x\r\n");
  }
  {
    RawConnection silent(sim_.http_port);
    silent.Send(std::string("POST /tfr_S.asp") + kQuery +
                " HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\n12345");
    EXPECT_TRUE(silent.ClosedWithin(5));  // went idle mid-body
  }
  // A client that checks the certificate refuses the self-signed one.
  CURL* curl = curl_easy_init();
  std::string url = Https("/tfr_T.asp");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  EXPECT_NE(curl_easy_perform(curl), CURLE_OK);
  curl_easy_cleanup(curl);

  std::vector<dcsim::IndexLine> lines;
  for (int i = 0; i < 100 && lines.size() < 4; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lines = dcsim::ReadIndex(sim_.out_folder, true);
  }
  ASSERT_EQ(lines.size(), 4u);
  std::multiset<std::string> seen;
  for (const auto& line : lines) {
    EXPECT_FALSE(line.served);
    EXPECT_FALSE(line.time.empty());
    seen.insert(line.via + " " + line.status + " " + line.target);
  }
  EXPECT_EQ(seen, (std::multiset<std::string>{
                      "http cut /tfr_C.asp" + std::string(kQuery), "http cut -",
                      "http cut /tfr_S.asp" + std::string(kQuery), "https tls -"}));
  EXPECT_TRUE(dcsim::ReadIndex(sim_.out_folder).empty());
}

TEST_F(DcsimServer, ExpectedQueryIsCheckedByteForByte) {
  Start({"--expect-query", "mmid=M&sid=S&rid=R&rty=T"});
  EXPECT_EQ(Post(Http("/tfr_A.asp"), "x").body, "1");
  Answer other = Post(
      "http://127.0.0.1:" + std::to_string(sim_.http_port) + "/tfr_A.asp?mmid=M&sid=S&rid=R&rty=U",
      "x");
  EXPECT_EQ(other.status, 400);
}

}  // namespace
