#include "tests/support/test_certificates.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>

namespace testing_support {

namespace {

EVP_PKEY* NewKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (key == nullptr) throw std::runtime_error("no EC key");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  if (extension == nullptr) throw std::runtime_error("bad extension");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

bool IsIpAddress(const std::string& host) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, host.c_str(), bytes) == 1;
}

// A certificate for common_name with key, signed by issuer_key (issuer null:
// signed by itself).
X509* MakeCertificate(const std::string& common_name, EVP_PKEY* key, X509* issuer,
                      EVP_PKEY* issuer_key, long from_days, long to_days, bool is_ca) {
  static long serial = 1;
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), ++serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), from_days * 86400);
  X509_gmtime_adj(X509_getm_notAfter(cert), to_days * 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                             0);
  X509* signer = issuer != nullptr ? issuer : cert;
  X509_set_issuer_name(cert, X509_get_subject_name(signer));
  if (is_ca) {
    AddExtension(cert, signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    std::string alt = (IsIpAddress(common_name) ? "IP:" : "DNS:") + common_name;
    AddExtension(cert, signer, NID_subject_alt_name, alt.c_str());
    AddExtension(cert, signer, NID_ext_key_usage, "serverAuth");
  }
  if (X509_sign(cert, issuer_key != nullptr ? issuer_key : key, EVP_sha256()) == 0) {
    throw std::runtime_error("cannot sign");
  }
  return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  if (cert != nullptr) PEM_write_X509(file, cert);
  if (key != nullptr) PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(file);
}

}  // namespace

struct TestCertificateAuthority::Keys {
  EVP_PKEY* key = nullptr;
  X509* cert = nullptr;
};

TestCertificateAuthority::TestCertificateAuthority(const std::string& directory,
                                                   const std::string& common_name)
    : directory_(directory), keys_(new Keys) {
  keys_->key = NewKey();
  keys_->cert = MakeCertificate(common_name, keys_->key, nullptr, nullptr, -1, 365, true);
  files_.cert = directory_ + "/" + common_name + "-ca.pem";
  files_.key = directory_ + "/" + common_name + "-ca.key";
  WritePem(files_.cert, keys_->cert, nullptr);
  WritePem(files_.key, nullptr, keys_->key);
}

TestCertificateAuthority::~TestCertificateAuthority() {
  X509_free(keys_->cert);
  EVP_PKEY_free(keys_->key);
  delete keys_;
}

CertificateFiles TestCertificateAuthority::Issue(const std::string& name,
                                                 const CertificateSpec& spec) const {
  EVP_PKEY* key = NewKey();
  X509* cert = MakeCertificate(spec.host, key, keys_->cert, keys_->key, spec.valid_from_days,
                               spec.valid_to_days, false);
  CertificateFiles files{directory_ + "/" + name + ".pem", directory_ + "/" + name + ".key"};
  WritePem(files.cert, cert, nullptr);
  WritePem(files.key, nullptr, key);
  X509_free(cert);
  EVP_PKEY_free(key);
  return files;
}

}  // namespace testing_support
