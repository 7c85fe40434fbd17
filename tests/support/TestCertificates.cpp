#include "TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace orvex {
namespace test {
namespace {

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificates: ") + what + " failed");
}

EVP_PKEY* newKey() {
  EVP_PKEY* key = EVP_EC_gen("prime256v1");
  check(key != nullptr, "key generation");
  return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
  check(ext != nullptr && X509_add_ext(cert, ext, -1) == 1, "extension");
  X509_EXTENSION_free(ext);
}

// An unsigned certificate for `key`, named `commonName`, issued by `issuer` (itself when null).
X509* makeCert(EVP_PKEY* key, const std::string& commonName, X509* issuer, int fromDays,
               int toDays) {
  static long serial = 1;
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert), 86400L * fromDays - 60);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * toDays);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
  return cert;
}

void sign(X509* cert, EVP_PKEY* key) { check(X509_sign(cert, key, EVP_sha256()) > 0, "signing"); }

void writePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  check(file != nullptr, "opening a PEM file");
  bool ok = cert ? PEM_write_X509(file, cert) == 1
                 : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  std::fclose(file);
  check(ok, "writing a PEM file");
}

}  // namespace

TestCertificates::TestCertificates() {
  char pattern[] = "/tmp/orvex-certs-XXXXXX";
  check(mkdtemp(pattern) != nullptr, "mkdtemp");
  dir_ = pattern;
  EVP_PKEY* key = newKey();
  X509* cert = makeCert(key, "orvex test CA", nullptr, 0, 30);
  addExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
  addExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
  sign(cert, key);
  caKey_ = key;
  caCert_ = cert;
  caFile_ = dir_ + "/ca.pem";
  writePem(caFile_, cert, nullptr);
}

TestCertificates::~TestCertificates() {
  X509_free(static_cast<X509*>(caCert_));
  EVP_PKEY_free(static_cast<EVP_PKEY*>(caKey_));
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

TestCertificates::Pair TestCertificates::issue(const std::string& name,
                                               const std::string& subjectAltName, int fromDays,
                                               int toDays) {
  X509* ca = static_cast<X509*>(caCert_);
  EVP_PKEY* key = newKey();
  X509* cert = makeCert(key, name, ca, fromDays, toDays);
  addExtension(cert, ca, NID_subject_alt_name, subjectAltName);
  addExtension(cert, ca, NID_ext_key_usage, "serverAuth");
  sign(cert, static_cast<EVP_PKEY*>(caKey_));
  Pair pair{dir_ + "/" + name + ".pem", dir_ + "/" + name + ".key"};
  writePem(pair.cert, cert, nullptr);
  writePem(pair.key, nullptr, key);
  X509_free(cert);
  EVP_PKEY_free(key);
  return pair;
}

}  // namespace test
}  // namespace orvex
