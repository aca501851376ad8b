// The simulator as a program, driven over loopback with libcurl.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>

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

TEST_F(DcsimServer, ProxyDemandsCredentialsAndReachesAnAddressWhereNothingListens) {
  Start({"--proxy-user", "pu", "--proxy-password", "pw"});
  const std::string site = "127.0.0.9:" + std::to_string(sim_.http_port);
  const std::string plain = "http://" + site + "/tfr_P.asp" + std::string(kQuery);
  const std::string tls = "https://" + site + "/tfr_Q.asp" + std::string(kQuery);
  EXPECT_NE(Post(plain, "x").code, CURLE_OK);  // no proxy: nothing listens there
  EXPECT_EQ(Post(plain, "x", Proxy()).status, 407);
  EXPECT_EQ(Post(plain, "x", Proxy(), "pu:wrong").status, 407);
  EXPECT_EQ(Post(plain, "via proxy", Proxy(), "pu:pw").body, "1");
  EXPECT_EQ(Post(tls, "via tunnel", Proxy(), "pu:pw").body, "1");
  auto index = dcsim::ReadIndex(sim_.out_folder);
  ASSERT_EQ(index.size(), 2u);  // refused requests are not stored
  EXPECT_EQ(index[0].via, "proxy");
  EXPECT_EQ(index[0].target, "/tfr_P.asp" + std::string(kQuery));
  EXPECT_EQ(index[1].via, "tunnel");
  EXPECT_EQ(ReadFileBytes(dir_ / "out/000002.body"), "via tunnel");
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
