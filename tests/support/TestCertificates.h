// Throw-away TLS certificates, made when a test runs (no private key is ever committed).
//
// One CA, and server certificates it signs, written as PEM files into a fresh temporary
// directory that is removed with the object. Not thread-safe; made once per test suite.
#pragma once

#include <string>

namespace orvex {
namespace test {

class TestCertificates {
 public:
  // A server certificate and its key, as PEM file paths.
  struct Pair {
    std::string cert;
    std::string key;
  };

  // Makes the CA; throws std::runtime_error when OpenSSL fails.
  TestCertificates();
  ~TestCertificates();
  TestCertificates(const TestCertificates&) = delete;
  TestCertificates& operator=(const TestCertificates&) = delete;

  // The CA certificate (PEM) to trust.
  const std::string& caFile() const { return caFile_; }
  // A certificate signed by the CA for `subjectAltName` (e.g. "IP:127.0.0.1" or
  // "DNS:other.invalid"), valid from now + `fromDays` to now + `toDays`.
  Pair issue(const std::string& name, const std::string& subjectAltName, int fromDays = 0,
             int toDays = 30);

 private:
  std::string dir_;
  std::string caFile_;
  void* caKey_ = nullptr;   // EVP_PKEY*
  void* caCert_ = nullptr;  // X509*
};

}  // namespace test
}  // namespace orvex
