// The server's TLS identity: a certificate and key from PEM files, or a self-signed
// RSA certificate for "localhost", 127.0.0.1 and the proxy-only host name.
#pragma once

#include <openssl/ssl.h>

#include <string>

namespace dcsim {

// A host name that never resolves (reserved top-level domain); reachable only through
// the simulator's proxy, which sends every request to its own ports.
constexpr const char* kProxyOnlyHost = "datacentre.invalid";

// A server context with the identity loaded; nullptr (with `error`) on failure.
SSL_CTX* MakeServerContext(const std::string& cert_file, const std::string& key_file,
                           const std::string& cert_out, std::string& error);

}  // namespace dcsim
