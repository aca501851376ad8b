// The server's TLS identity: a certificate and key from PEM files, or a self-signed
// RSA certificate for "localhost", 127.0.0.1 and the proxy-only address.
#pragma once

#include <openssl/ssl.h>

#include <string>

namespace dcsim {

// A loopback address where nothing listens (the simulator listens on 127.0.0.1): a
// data centre there is reachable only through the simulator's proxy, which sends every
// request to its own ports. No name look-up is ever needed to reach it.
constexpr const char* kProxyOnlyAddress = "127.0.0.9";

// A server context with the identity loaded; nullptr (with `error`) on failure.
SSL_CTX* MakeServerContext(const std::string& cert_file, const std::string& key_file,
                           const std::string& cert_out, std::string& error);

}  // namespace dcsim
