// The service's access checks: the access token and the request signature.
//
// Token: when configured, the header "kvauth" must hold exactly it (401 otherwise).
// Signature: when a key and secret are configured, "Authorization" must be "FC <key>:<hex>" where
// <hex> is the lower-case hex HMAC-SHA256, keyed with the secret, of the canonical text
//   METHOD \n Content-MD5 \n Content-Type \n Date \n <x-fc- headers><path> \n <query items>
// (x-fc- headers: every header whose name contains "x-fc-", lower-cased, sorted, one
// "name:value\n" each; query items: decoded parameters as name=value with the value
// percent-encoded again, a bare name for an empty value, sorted, joined by "\n"). "Date" is an
// RFC 1123 date that must lie within 15 minutes of the service's clock, and "Content-MD5", when
// sent, must be the MD5 of the body. Any failure answers 403.
//
// Thread-safe: check() only reads the configuration.
#pragma once

#include <Poco/Net/NameValueCollection.h>
#include <Poco/URI.h>

#include <cstdint>
#include <functional>
#include <string>

namespace orvex {
namespace hqserver {

struct AuthConfig {
  std::string token;  // empty: no token check
  std::string key;    // key and secret both empty: no signature check
  std::string secret;
  int64_t maxSkewMs = 15 * 60 * 1000;
};

struct AuthResult {
  int status = 200;     // 200, 401 or 403
  std::string message;  // why, for the answer body; never holds a secret
  bool ok() const { return status == 200; }
};

class RequestAuthenticator {
 public:
  // Milliseconds since 1970, UTC.
  using Clock = std::function<int64_t()>;
  static int64_t systemClock();

  explicit RequestAuthenticator(AuthConfig config,
                                Clock clock = &RequestAuthenticator::systemClock);

  AuthResult check(const std::string& method, const Poco::URI& uri,
                   const Poco::Net::NameValueCollection& headers, const std::string& body) const;

  // The text the signature is computed over.
  static std::string stringToSign(const std::string& method, const Poco::URI& uri,
                                  const Poco::Net::NameValueCollection& headers);

 private:
  AuthResult checkToken(const Poco::Net::NameValueCollection& headers) const;
  AuthResult checkSignature(const std::string& method, const Poco::URI& uri,
                            const Poco::Net::NameValueCollection& headers,
                            const std::string& body) const;
  AuthResult checkDate(const Poco::Net::NameValueCollection& headers) const;

  const AuthConfig config_;
  const Clock clock_;
};

}  // namespace hqserver
}  // namespace orvex
