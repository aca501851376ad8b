// The simulator's page at "/": what it shows, that a request cannot inject markup into
// it, and that a real browser renders it.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "dcsim_process.h"
#include "packed_sample.h"
#include "status_page.h"
#include "support/test_files.h"

namespace dcsim {
namespace {

using vemtu::test::EnvOr;
using vemtu::test::TempDir;

size_t Collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// GET or POST `url` without a proxy; the reply body.
std::string Fetch(const std::string& url, const std::string* post = nullptr) {
  std::string body;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  if (post) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post->data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post->size()));
  }
  curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  return body;
}

TEST(DcsimPage, ShowsNewestFirstAndEscapesWhatRequestsCarry) {
  Seen first;
  first.number = "000001";
  first.target = "/tfr_A.asp?x=<script>alert(1)</script>";
  first.status = "200";
  first.reply = "1";
  Seen second = first;
  second.number = "-";
  second.target = "/tfr_B.asp";
  second.status = "407";
  second.packed = true;
  second.unpacked = "<b title=\"x\">'&'</b>";
  std::string page = StatusPage({first, second}, 2);
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("&lt;b title=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/b&gt;"), std::string::npos);
  EXPECT_LT(page.find("/tfr_B.asp"), page.find("/tfr_A.asp"));
  EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"2\">"), std::string::npos);
}

class DcsimPageServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim_.Start(EnvOr("VEMTU_BIN", ".") + "/dcsim", dir_ / "out", {}, error)) << error;
    base_ = "http://127.0.0.1:" + std::to_string(sim_.http_port);
    std::string packed = PackedSample("PSTAT", "<cpu>12 &lt; 20</cpu>");
    std::string plain = "plain body";
    Fetch(base_ + "/dc/tfr_PSTAT.asp?mmid=M&sid=S&rid=R&rty=T", &packed);
    Fetch(base_ + "/dc/tfr_LOG.asp?mmid=M&sid=S&rid=R&rty=T", &plain);
  }
  TempDir dir_;
  DcsimProcess sim_;
  std::string base_;
};

TEST_F(DcsimPageServer, PageListsEachRequestAndIsNotRecordedItself) {
  std::string page = Fetch(base_ + "/");
  EXPECT_NE(page.find("/dc/tfr_PSTAT.asp?mmid=M&amp;sid=S&amp;rid=R&amp;rty=T"), std::string::npos);
  EXPECT_NE(page.find("&lt;cpu&gt;12 &amp;lt; 20&lt;/cpu&gt;"), std::string::npos) << page;
  EXPECT_NE(page.find("/dc/tfr_LOG.asp"), std::string::npos);
  Fetch(base_ + "/favicon.ico");
  Fetch(base_ + "/?again");
  EXPECT_EQ(ReadIndex(sim_.out_folder, true).size(), 2u);
}

// Chromium (or the browser VEMTU_CHROMIUM names), if installed, renders the page; the
// DOM it builds holds both requests.
TEST_F(DcsimPageServer, HeadlessBrowserRendersTheTable) {
  std::string browser = EnvOr("VEMTU_CHROMIUM", "/usr/bin/chromium");
  if (!vemtu::test::FileExists(browser)) {
    if (std::getenv("CI")) FAIL() << "chromium is required in CI (apt-get install chromium)";
    GTEST_SKIP() << "chromium is not installed (apt-get install chromium)";
  }
  std::string dom_file = dir_ / "dom.html";
  std::string command = "timeout 90 " + browser +
                        " --headless --no-sandbox --disable-gpu --disable-background-networking"
                        " --disable-component-update --disable-sync --no-first-run"
                        " --user-data-dir=" +
                        std::string(dir_ / "profile") + " --dump-dom " + base_ + "/ >" + dom_file +
                        " 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::string dom = vemtu::test::ReadFileBytes(dom_file);
  EXPECT_NE(dom.find("<table id=\"requests\">"), std::string::npos) << dom;
  EXPECT_NE(dom.find("&lt;cpu&gt;12 &amp;lt; 20&lt;/cpu&gt;"), std::string::npos) << dom;
  EXPECT_NE(dom.find("/dc/tfr_LOG.asp"), std::string::npos) << dom;
}

}  // namespace
}  // namespace dcsim
