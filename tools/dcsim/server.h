// The simulated data centre: an HTTP port, an HTTPS port and a forward-proxy port on one
// address, each connection served on a thread of its own.
#pragma once

#include <memory>
#include <string>

#include "reply_rules.h"
#include "request_store.h"

namespace dcsim {

struct ServerOptions {
  std::string bind_address = "127.0.0.1";
  int http_port = 0;  // 0: any free port
  int https_port = 0;
  int proxy_port = 0;
  std::string proxy_user;  // empty: the proxy asks for no credentials
  std::string proxy_password;
  std::string expected_query;  // empty: any query with the four keys in order
  std::string cert_file;       // PEM; both empty: a self-signed certificate is made
  std::string key_file;
  std::string cert_out;     // where to write the certificate in use (PEM), if set
  std::string script_file;  // reread whenever it changes
  int idle_seconds = 5;     // a connection silent this long is closed
};

struct Ports {
  int http = 0, https = 0, proxy = 0;
};

class Server {
 public:
  Server(ServerOptions options, ReplyScript& script, RequestStore& store);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the three ports and starts accepting; false (with `error`) when it cannot.
  bool Start(Ports& ports, std::string& error);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dcsim
