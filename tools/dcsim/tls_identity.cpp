#include "tls_identity.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <cstdio>

namespace dcsim {

namespace {

bool AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (!ext) return false;
  bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

bool MakeSelfSigned(X509*& cert, EVP_PKEY*& key) {
  key = EVP_RSA_gen(2048);
  cert = X509_new();
  if (!key || !cert) return false;
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -86400L);
  X509_gmtime_adj(X509_getm_notAfter(cert), 10L * 365 * 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  std::string san = std::string("DNS:localhost,IP:127.0.0.1,IP:") + kProxyOnlyAddress;
  if (!AddExtension(cert, NID_subject_alt_name, san.c_str())) return false;
  if (!AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE")) return false;
  return X509_sign(cert, key, EVP_sha256()) > 0;
}

}  // namespace

SSL_CTX* MakeServerContext(const std::string& cert_file, const std::string& key_file,
                           const std::string& cert_out, std::string& error) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (!ctx) {
    error = "cannot create a TLS context";
    return nullptr;
  }
  if (!cert_file.empty() || !key_file.empty()) {
    if (SSL_CTX_use_certificate_chain_file(ctx, cert_file.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
      error = "cannot load the certificate " + cert_file + " or key " + key_file;
      SSL_CTX_free(ctx);
      return nullptr;
    }
  } else {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    bool ok = MakeSelfSigned(cert, key) && SSL_CTX_use_certificate(ctx, cert) == 1 &&
              SSL_CTX_use_PrivateKey(ctx, key) == 1;
    if (ok && !cert_out.empty()) {
      if (std::FILE* out = std::fopen(cert_out.c_str(), "wb")) {
        PEM_write_X509(out, cert);
        std::fclose(out);
      }
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    if (!ok) {
      error = "cannot make a self-signed certificate";
      SSL_CTX_free(ctx);
      return nullptr;
    }
  }
  return ctx;
}

}  // namespace dcsim
