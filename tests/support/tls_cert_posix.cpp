// A self-signed certificate made at test time with the OpenSSL API (RSA 2048 key, which
// every TLS stack takes, wine's included; valid from an hour ago for a day; names for
// the loopback addresses and localhost).
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

#include "support/scripted_server.h"

namespace vemtu::test {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

std::string BioText(BIO* bio) {
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(size));
}

void AddExtension(X509* cert, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (!extension) throw std::runtime_error("certificate: bad extension " + value);
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

}  // namespace

TlsCertificate MakeSelfSignedCertificate(const std::string& common_name) {
  KeyPtr key(EVP_RSA_gen(2048));
  CertPtr cert(X509_new());
  if (!key || !cert) throw std::runtime_error("certificate: out of memory");

  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 3600);
  X509_set_pubkey(cert.get(), key.get());
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), name);
  AddExtension(cert.get(), NID_subject_alt_name,
               "IP:127.0.0.1,IP:127.0.0.2,IP:127.0.0.3,IP:127.0.0.4,IP:127.0.0.5,"
               "DNS:localhost");
  AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE");
  if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
    throw std::runtime_error("certificate: signing failed");
  }

  BioPtr cert_out(BIO_new(BIO_s_mem()));
  BioPtr key_out(BIO_new(BIO_s_mem()));
  PEM_write_bio_X509(cert_out.get(), cert.get());
  PEM_write_bio_PrivateKey(key_out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  return {BioText(cert_out.get()), BioText(key_out.get())};
}

}  // namespace vemtu::test
