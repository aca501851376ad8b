// Real servers that nobody here wrote, run by tests as instances of their own: nginx as
// the data centre and squid as the corporate proxy, each from a configuration written
// into a temporary folder, on loopback ports, started and stopped by the test (never
// the system's service). And a certificate authority made at test time that issues the
// server certificates. Linux only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace vemtu::test {

// Whether `program` is installed; when it is not, a test fails under CI (CI=true) and
// is skipped elsewhere, saying so.
bool HaveProgram(const std::string& program);

// A PEM certificate and key written as files.
struct CertificateFiles {
  std::string certificate;
  std::string key;
};

// A CA with a fresh key; it issues certificates into `folder`.
class TestCa {
 public:
  explicit TestCa(const std::string& folder);
  ~TestCa();
  TestCa(const TestCa&) = delete;
  TestCa& operator=(const TestCa&) = delete;

  // The CA's own certificate (the file a client trusts).
  const std::string& certificate_file() const { return ca_file_; }
  // A server certificate signed by this CA for the DNS names and IP addresses given
  // (as "DNS:localhost,IP:127.0.0.1"), valid from `from_days` to `to_days` days from now.
  CertificateFiles Issue(const std::string& name, const std::string& alt_names,
                         int from_days = -1, int to_days = 30) const;
  // A certificate that signs itself, for the same names.
  CertificateFiles SelfSigned(const std::string& name, const std::string& alt_names) const;

 private:
  struct Keys;
  std::string folder_;
  std::string ca_file_;
  std::unique_ptr<Keys> keys_;
};

// One nginx server block: a port, TLS or not, and the certificate it shows.
struct NginxSite {
  int port = 0;
  CertificateFiles tls;  // empty: plain HTTP
};

// nginx that accepts POSTs of any size and hands every request to `upstream`
// ("127.0.0.1:port", a recorder) on each of `sites`. Under "/strict/" a request with an
// Expect header is answered 417 and not passed on.
class Nginx {
 public:
  Nginx(const std::string& folder, const std::vector<NginxSite>& sites,
        const std::string& upstream);
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;
  std::string ErrorLog() const;

 private:
  std::string folder_;
  int pid_ = -1;
};

// What one squid port asks of its clients.
enum class ProxyAuth {
  kNone,    // an open proxy
  kBasic,   // Basic against a password file
  kDigest,  // Digest against a password file
  kAll,     // NTLM (any credentials), Digest and Basic offered together
};

// squid on 127.0.0.2 with one port of its own for `auth`; users and passwords for the
// Basic and Digest files. It reaches the servers on loopback and tunnels CONNECT to any
// port. With an `origin_port`, squid is the only way out: it hands every plain request,
// whatever its host, to the server on 127.0.0.1:`origin_port`.
class Squid {
 public:
  Squid(const std::string& folder, ProxyAuth auth, const std::string& user,
        const std::string& password, int origin_port = 0);
  ~Squid();
  Squid(const Squid&) = delete;
  Squid& operator=(const Squid&) = delete;

  int port() const { return port_; }
  std::string AccessLog() const;

 private:
  std::string folder_;
  int port_ = 0;
  int pid_ = -1;
};

// A port that is free on `address` now.
int FreeLoopbackPort(const std::string& address);

}  // namespace vemtu::test
