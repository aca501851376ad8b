// The send procedures against servers nobody here wrote: nginx as the data centre (HTTP,
// HTTPS with a certificate from a CA made here, and the self-signed, expired and
// misnamed certificates that WinHTTP refuses and WinINet overlooks) handing each body
// to a recorder, and squid as the corporate proxy (Basic, Digest, NTLM offered with the
// others, no credentials, HTTPS through CONNECT, an open port).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "../transport/post_harness.h"
#include "support/agent_runner.h"
#include "support/component_setup.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace vemtu::test {
namespace {

constexpr int kWinHttpSecureFailure = 12175;
const std::string kUser = "agent";
const std::string kPassword = "pa55 word";

// A case left out under wine, with the reason printed where the test log shows it.
void SkipNote(int method, const std::string& reason) {
  std::cout << "not run: " << ProcedureName(method) << " (method " << method
            << ") under wine: " << reason << std::endl;
}

class RealServers : public PostHarness {
 protected:
  void SetUp() override {
    PostHarness::SetUp();
    for (const char* program : {"nginx", "squid", "htpasswd"}) {
      if (HaveProgram(program)) continue;
      std::string why = std::string(program) + " is not installed (scripts/deps.sh installs it)";
      if (EnvOr("CI", "") == "true") FAIL() << why;
      GTEST_SKIP() << "SKIPPED LOUDLY: " << why;
    }
    // squid, started by root, works as an unprivileged user and must reach its folder.
    chmod(dir_.path().c_str(), 0755);
    recorder_.SetDefault(Reply::Status(200, "1"));
    ca_ = std::make_unique<TestCa>(dir_ / "pki");
    // The stand-ins trust the test CA through this variable (tests only).
    setenv("VEMTU_TEST_CA_FILE", ca_->certificate_file().c_str(), 1);
  }
  void TearDown() override { unsetenv("VEMTU_TEST_CA_FILE"); }

  // An nginx site on a fresh port in front of the recorder; its port.
  int StartSite(const CertificateFiles& tls = {}) {
    NginxSite site{FreeLoopbackPort("127.0.0.1"), tls};
    sites_.push_back(std::make_unique<Nginx>(dir_ / ("nginx" + std::to_string(sites_.size())),
                                             std::vector<NginxSite>{site}, recorder_.HostPort()));
    return site.port;
  }
  CertificateFiles TrustedCertificate() { return ca_->Issue("site", "DNS:localhost,IP:127.0.0.1"); }

  Squid& StartSquid(ProxyAuth auth, const std::string& user = kUser) {
    squid_ = std::make_unique<Squid>(dir_ / "squid", auth, user, kPassword);
    return *squid_;
  }

  Run To(int method, int port, const std::string& scheme = "HTTP") {
    Run run;
    run.method = method;
    run.port = port;
    run.scheme = scheme;
    run.timeout_ms = 30000;
    return run;
  }
  Run ThroughSquid(int method, int port, const std::string& scheme, bool credentials,
                   const std::string& user = kUser) {
    Run run = To(method, port, scheme);
    run.options = {{"proxy-address", "127.0.0.2"}, {"proxy-port", std::to_string(squid_->port())}};
    if (credentials) {
      run.options["proxy-user"] = user;
      run.options["proxy-password"] = kPassword;
    }
    return run;
  }

  // Posts `body` and expects it delivered intact: result 1, file gone, the recorder got
  // exactly these bytes at the page.
  void ExpectDelivered(const Run& run, const std::string& body, const std::string& page = "/tfr_X.asp") {
    std::string file = MakeFile(run.file, body);
    std::size_t before = recorder_.RequestCount();
    EXPECT_EQ(Post(run), 1) << ReadLog();
    EXPECT_FALSE(FileExists(file));
    ASSERT_EQ(recorder_.RequestCount(), before + 1);
    RecordedRequest got = recorder_.Requests().back();
    EXPECT_EQ(got.path, page);
    EXPECT_EQ(got.body.size(), body.size());
    EXPECT_TRUE(got.body == body);
    ClearLog();
  }
  // Posts and expects the attempt to fail with the file kept and nothing recorded; the
  // transfer log's error entry is returned.
  std::string ExpectRefused(const Run& run) {
    std::string file = MakeFile(run.file, "refused body");
    std::size_t before = recorder_.RequestCount();
    EXPECT_EQ(Post(run), 0);
    EXPECT_TRUE(FileExists(file));
    EXPECT_EQ(recorder_.RequestCount(), before);
    std::string log = ReadLog();
    ClearLog();
    return log;
  }
  std::string ReadLog() const {
    return FileExists(dir_ / "Log/tfr_X.log") ? ReadFileBytes(dir_ / "Log/tfr_X.log") : "";
  }
  void ClearLog() { std::remove((dir_ / "Log/tfr_X.log").c_str()); }

  ScriptedServer recorder_;
  std::unique_ptr<TestCa> ca_;
  std::vector<std::unique_ptr<Nginx>> sites_;
  std::unique_ptr<Squid> squid_;
};

std::string Body(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>("<x>0123456789</x>\r\n"[i % 19]);
  return body;
}

std::string ErrorEntry(int code, const std::string& label) {
  return "\t0\t\t" + std::to_string(code) + "\t0\tERR\t" + label + "\t";
}

// ---- nginx as the data centre ----

TEST_F(RealServers, BodiesOfEverySizeArriveIntactDirectAndNoExpectationIsSent) {
  int port = StartSite();
  for (int method : {1, 5}) {
    SCOPED_TRACE(ProcedureName(method));
    ExpectDelivered(To(method, port), "1");
    ExpectDelivered(To(method, port), Body(4096));
    // The strict page answers 417 to any expectation: a large body must go without one.
    Run strict = To(method, port);
    strict.path = "/strict/tfr_X.asp?mmid=1&sid=2&rid=3&rty=4";
    ExpectDelivered(strict, Body(3 << 20), "/strict/tfr_X.asp");
  }
  for (const RecordedRequest& got : recorder_.Requests()) EXPECT_FALSE(got.HasHeader("Expect"));
}

TEST_F(RealServers, ACertificateFromATrustedCaIsAcceptedByBothLibraries) {
  int port = StartSite(TrustedCertificate());
  for (int method : {1, 5}) {
    SCOPED_TRACE(ProcedureName(method));
    if (UnderWine() && method == 1) {
      SkipNote(method, "wine's WinHTTP trusts only the system bundle (the test CA would have to "
                       "be added to the machine) and refuses a trusted certificate for a literal IP");
      continue;
    }
    if (UnderWine()) {
      SkipNote(method, "wine's WinINet fails the revocation check (12057) of a certificate from "
                       "a CA it does not know");
      continue;
    }
    ExpectDelivered(To(method, port, "HTTPS"), Body(70000));
  }
}

TEST_F(RealServers, WinHttpRefusesBadCertificatesThatWinInetOverlooks) {
  struct Case {
    const char* what;
    CertificateFiles tls;
    bool from_ca;  // issued by the test CA, which wine does not know
  } cases[] = {
      {"self-signed", ca_->SelfSigned("self", "DNS:localhost,IP:127.0.0.1"), false},
      {"expired", ca_->Issue("expired", "DNS:localhost,IP:127.0.0.1", -30, -1), true},
      {"another host's", ca_->Issue("other", "DNS:other.host.test"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int port = StartSite(c.tls);
    std::string log = ExpectRefused(To(1, port, "HTTPS"));
    // wine's WinHTTP reports a bad certificate as 12157 rather than 12175.
    if (!UnderWine()) {
      EXPECT_NE(log.find(ErrorEntry(kWinHttpSecureFailure, "WinHTTP.ZHTTPWebPost")),
                std::string::npos) << log;
    }
    if (UnderWine() && c.from_ca) {
      SkipNote(5, std::string(c.what) + " certificate: wine's WinINet fails the revocation check "
                  "(12057) of a certificate from a CA it does not know");
      continue;
    }
    ExpectDelivered(To(5, port, "HTTPS"), Body(5000));
  }
}

// ---- squid as the proxy ----

TEST_F(RealServers, BasicProxyCredentialsCarryTheBodyAndTheirLackIsThe407) {
  int port = StartSite();
  StartSquid(ProxyAuth::kBasic);
  for (int method : {2, 4, 6}) {
    SCOPED_TRACE(ProcedureName(method));
    if (UnderWine()) {
      SkipNote(method, method == 6 ? "wine's WinINet sends no proxy credentials with a streamed body"
                                   : "wine's WinHTTP refuses the \"http=http://host:port\" proxy list (12007)");
      continue;
    }
    ExpectDelivered(ThroughSquid(method, port, "HTTP", true), Body(200000));
  }
  if (!UnderWine()) {
    EXPECT_NE(squid_->AccessLog().find(" agent "), std::string::npos);
  }
  for (int method : {2, 6}) {
    SCOPED_TRACE(ProcedureName(method));
    if (UnderWine()) {
      SkipNote(method, method == 6 ? "wine's WinINet at times reads a proxy's early 407 as a reply body"
                                   : "wine's WinHTTP refuses the \"http=http://host:port\" proxy list (12007)");
      continue;
    }
    // A large body: squid refuses before reading it, and the 407 must still be the answer.
    Run run = ThroughSquid(method, port, "HTTP", false);
    std::string file = MakeFile(run.file, Body(1 << 20));
    EXPECT_EQ(Post(run), 0);
    EXPECT_TRUE(FileExists(file));
    std::string label = method == 2 ? "WinHTTP.ZHTTPWebPost" : "WinInet.ZHTTPWebPost";
    std::string log = ReadLog();
    EXPECT_NE(log.find(ErrorEntry(407, label)), std::string::npos) << log;
    ClearLog();
  }
}

TEST_F(RealServers, DigestProxyCredentialsCarryTheBody) {
  if (UnderWine()) {
    GTEST_SKIP() << "wine sends no proxy credentials with a streamed body, and its WinHTTP "
                    "refuses the \"http=http://host:port\" proxy list";
  }
  int port = StartSite();
  StartSquid(ProxyAuth::kDigest);
  for (int method : {2, 4, 6}) {
    SCOPED_TRACE(ProcedureName(method));
    ExpectDelivered(ThroughSquid(method, port, "HTTP", true), Body(100000));
  }
}

TEST_F(RealServers, NtlmIsChosenBeforeDigestAndBasicForADomainUser) {
  if (UnderWine()) {
    GTEST_SKIP() << "wine sends no proxy credentials with a streamed body, and its WinHTTP "
                    "refuses the \"http=http://host:port\" proxy list";
  }
  int port = StartSite();
  // Only NTLM accepts this user: neither password file knows "CORP\agent".
  StartSquid(ProxyAuth::kAll, "nobody-else");
  for (int method : {2, 6}) {
    SCOPED_TRACE(ProcedureName(method));
    ExpectDelivered(ThroughSquid(method, port, "HTTP", true, "CORP\\agent"), Body(3000));
  }
}

TEST_F(RealServers, HttpsGoesThroughTheConfiguredProxyByConnect) {
  if (UnderWine()) {
    GTEST_SKIP() << "wine sends no proxy credentials with a streamed body, and its WinHTTP "
                    "refuses the \"http=http://host:port\" proxy list";
  }
  int port = StartSite(TrustedCertificate());
  StartSquid(ProxyAuth::kBasic);
  for (int method : {2, 4, 6}) {
    SCOPED_TRACE(ProcedureName(method));
    ExpectDelivered(ThroughSquid(method, port, "HTTPS", true), Body(150000));
  }
  // One tunnel a method, each opened with the credentials after squid's 407.
  std::string log = squid_->AccessLog();
  std::string tunnel = "TCP_TUNNEL/200 ";
  std::string target = " CONNECT 127.0.0.1:" + std::to_string(port) + " agent ";
  std::size_t tunnels = 0;
  for (std::size_t at = log.find(tunnel); at != std::string::npos; at = log.find(tunnel, at + 1)) {
    std::string line = log.substr(at, log.find('\n', at) - at);
    if (line.find(target) != std::string::npos) ++tunnels;
  }
  EXPECT_EQ(tunnels, 3u) << log;
}

TEST_F(RealServers, AnOpenProxyCarriesLargeBodiesToAPageThatRefusesExpectations) {
  int port = StartSite();
  int secure_port = StartSite(ca_->SelfSigned("open", "DNS:localhost,IP:127.0.0.1"));
  StartSquid(ProxyAuth::kNone);
  for (int method : {2, 4, 6}) {
    SCOPED_TRACE(ProcedureName(method));
    if (UnderWine() && method != 6) {
      SkipNote(method, "wine's WinHTTP refuses the \"http=http://host:port\" proxy list (12007)");
      continue;
    }
    Run strict = ThroughSquid(method, port, "HTTP", false);
    strict.path = "/strict/tfr_X.asp?mmid=1&sid=2&rid=3&rty=4";
    ExpectDelivered(strict, Body(2 << 20), "/strict/tfr_X.asp");
  }
  // HTTPS through the open port: WinINet overlooks the self-signed certificate.
  if (UnderWine()) {
    SkipNote(6, "HTTPS: wine's WinINet opens the CONNECT tunnel through the proxy but speaks "
                "plain HTTP inside it (nginx answers 400)");
    return;
  }
  ExpectDelivered(ThroughSquid(6, secure_port, "HTTPS", false), Body(10000));
  EXPECT_NE(squid_->AccessLog().find("CONNECT 127.0.0.1:" + std::to_string(secure_port)),
            std::string::npos);
}

}  // namespace
}  // namespace vemtu::test

namespace vemtu::test {
namespace {

// The whole agent where only the proxy leads out: the site's address answers nobody
// directly, squid asks for Basic credentials, and the agent INI holds them enciphered.
class AgentBehindSquid : public RealServers {
 protected:
  void SetUp() override {
    RealServers::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    agent_ = dir_ / "agent";
    exe_ = InstallAgent(agent_);
    std::filesystem::create_directories(agent_ + "/Configuration/WebPost");
    ASSERT_TRUE(PrepareCipherComponent(dir_.path().string()));
  }
  // Posts one file in a run of its own; true when the recorder got it intact.
  void ExpectRunDelivers(const std::string& body) {
    std::string file = agent_ + "/ATPostLogs/PX_N_1.txt";
    WriteFileBytes(file, body);
    std::size_t before = recorder_.RequestCount();
    ASSERT_FALSE(RunAgent(exe_, {"ATPostLogs"}, 120000).timed_out);
    EXPECT_FALSE(FileExists(file));
    ASSERT_EQ(recorder_.RequestCount(), before + 1);
    EXPECT_TRUE(recorder_.Requests().back().body == body);
  }
  std::string TransferLog() const {
    return ReadFileBytes(agent_ + "/ApplicationLog/WebPost/WebPostExe/tfr_PX.log");
  }

  std::string agent_;
  std::string exe_;
};

// The agent INI: the site at an address where nothing listens (every direct attempt is
// refused) and squid as the proxy, with these enciphered credentials.
void WriteAgentIni(const std::string& agent, int proxy_port, const std::string& user,
                   const std::string& password) {
  WriteFileBytes(agent + "/KOLTMobile.INI",
                 "[MACHINE_INFO]\r\nDCRegId=R1\r\nAgentType=T1\r\n"
                 "[CONTROLLER_INFO]\r\nMemberId=M1\r\nSiteId=S1\r\n"
                 "[DCConnURL]\r\nControllerPSite=http://127.0.0.9:1/dc\r\nControllerSSite=\r\n"
                 "[ProxySettings]\r\nProxyIP=127.0.0.2\r\nProxyPort=" +
                     std::to_string(proxy_port) + "\r\nProxyUserName=" + user +
                     "\r\nProxyPassword=" + password + "\r\n");
}

TEST_F(AgentBehindSquid, AnOpenProxyCarriesTheFileWhenNothingElseLeadsOut) {
  int port = StartSite();
  squid_ = std::make_unique<Squid>(dir_ / "squid", ProxyAuth::kNone, "", "", port);
  WriteAgentIni(agent_, squid_->port(), "", "");
  ExpectRunDelivers(Body(100000));
  // Under wine the WinHTTP methods fail (its WinHTTP refuses the proxy list) and the
  // configured proxy of WinINet delivers.
  std::string method = UnderWine() ? "SendProxyPOST" : "SendProxyWinHTTPPOST";
  EXPECT_NE(TransferLog().find("MSG: Return text from " + method + "\t\t1\t"), std::string::npos)
      << TransferLog();
}

TEST_F(AgentBehindSquid, DecipheredBasicCredentialsCarryTheFileThroughTheOnlyWayOut) {
  if (UnderWine()) {
    GTEST_SKIP() << "wine sends no proxy credentials with a streamed body";
  }
  int port = StartSite();
  squid_ = std::make_unique<Squid>(dir_ / "squid", ProxyAuth::kBasic, "proxy user", "pa:ss", port);
  WriteAgentIni(agent_, squid_->port(), Encipher("proxy user"), Encipher("pa:ss"));
  // WinHTTP: direct is refused, then the configured proxy delivers.
  ExpectRunDelivers(Body(300000));
  EXPECT_NE(TransferLog().find("MSG: Return text from SendProxyWinHTTPPOST"), std::string::npos)
      << TransferLog();
  // Without WinHTTP the WinINet methods do the same: beside the agent, a WinHTTP library
  // that lacks entry points cannot be bound.
  std::filesystem::copy_file(EnvOr("VEMTU_BIN", ".") + "/libWinHttpPartial.so", agent_ + "/libWinHttp.so",
                             std::filesystem::copy_options::overwrite_existing);
  std::remove((agent_ + "/ApplicationLog/WebPost/WebPostExe/tfr_PX.log").c_str());
  ExpectRunDelivers(Body(300000));
  EXPECT_NE(TransferLog().find("MSG: Return text from SendProxyPOST"), std::string::npos)
      << TransferLog();
  EXPECT_NE(squid_->AccessLog().find(" proxy user "), std::string::npos) << squid_->AccessLog();
}

}  // namespace
}  // namespace vemtu::test
