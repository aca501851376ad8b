// The test CA: an RSA 2048 key and a self-signed CA certificate made with the OpenSSL
// API, issuing server certificates with the validity and names a test asks for.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "support/real_servers.h"

namespace vemtu::test {

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

Key NewKey() {
  Key key(EVP_RSA_gen(2048));
  if (!key) throw std::runtime_error("test CA: no key");
  return key;
}

void Extend(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  if (!extension) throw std::runtime_error("test CA: bad extension " + value);
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

// A certificate for `name` holding `key`, signed by `issuer_key` (issuer: `issuer`, or
// itself when none).
Cert Make(const std::string& name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key,
          int from_days, int to_days, bool ca, const std::string& alt_names) {
  static long serial = 1;
  Cert cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), 86400L * from_days);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * to_days);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* subject = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  X509* signer = issuer ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (ca) {
    Extend(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    Extend(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    Extend(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
    Extend(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    Extend(cert.get(), signer, NID_subject_alt_name, alt_names);
  }
  Extend(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (!X509_sign(cert.get(), issuer_key, EVP_sha256())) throw std::runtime_error("test CA: sign");
  return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) throw std::runtime_error("test CA: cannot write " + path);
  bool ok = cert ? PEM_write_X509(file, cert) == 1
                 : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  std::fclose(file);
  if (!ok) throw std::runtime_error("test CA: cannot write " + path);
}

}  // namespace

struct TestCa::Keys {
  Key key;
  Cert cert;
};

TestCa::TestCa(const std::string& folder) : folder_(folder), keys_(new Keys) {
  std::filesystem::create_directories(folder_);
  keys_->key = NewKey();
  keys_->cert = Make("Vemtu Test CA", keys_->key.get(), nullptr, keys_->key.get(), -1, 30, true, "");
  ca_file_ = folder_ + "/ca.pem";
  WritePem(ca_file_, keys_->cert.get(), nullptr);
}

TestCa::~TestCa() = default;

CertificateFiles TestCa::Issue(const std::string& name, const std::string& alt_names,
                               int from_days, int to_days) const {
  Key key = NewKey();
  Cert cert = Make(name, key.get(), keys_->cert.get(), keys_->key.get(), from_days, to_days,
                   false, alt_names);
  CertificateFiles files{folder_ + "/" + name + ".crt", folder_ + "/" + name + ".key"};
  WritePem(files.certificate, cert.get(), nullptr);
  WritePem(files.key, nullptr, key.get());
  return files;
}

CertificateFiles TestCa::SelfSigned(const std::string& name, const std::string& alt_names) const {
  Key key = NewKey();
  Cert cert = Make(name, key.get(), nullptr, key.get(), -1, 30, false, alt_names);
  CertificateFiles files{folder_ + "/" + name + ".crt", folder_ + "/" + name + ".key"};
  WritePem(files.certificate, cert.get(), nullptr);
  WritePem(files.key, nullptr, key.get());
  return files;
}

}  // namespace vemtu::test
