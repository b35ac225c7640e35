// Certificates made on the spot for https tests: a CA of the test's own and
// server certificates it signs (or that sign themselves), with the host name
// and validity dates a case needs. Written as PEM files.
#pragma once

#include <string>

namespace testing_support {

struct CertificateFiles {
  std::string cert;  // PEM certificate
  std::string key;   // PEM private key
};

struct CertificateSpec {
  std::string host = "127.0.0.1";  // subject CN and subjectAltName (IP or DNS)
  long valid_from_days = -1;       // relative to now
  long valid_to_days = 30;
};

class TestCertificateAuthority {
 public:
  // A CA named common_name, its files written under directory.
  TestCertificateAuthority(const std::string& directory, const std::string& common_name);
  ~TestCertificateAuthority();
  TestCertificateAuthority(const TestCertificateAuthority&) = delete;
  TestCertificateAuthority& operator=(const TestCertificateAuthority&) = delete;

  // The CA's certificate, to be trusted by the client.
  const std::string& cert_file() const { return files_.cert; }
  // A server certificate signed by this CA, written as name.pem / name.key.
  CertificateFiles Issue(const std::string& name, const CertificateSpec& spec) const;

 private:
  struct Keys;
  std::string directory_;
  CertificateFiles files_;
  Keys* keys_;
};

}  // namespace testing_support
