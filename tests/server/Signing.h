// Request signatures made the way a client makes them, written apart from the service's own code
// so that a fault in one cannot hide a fault in the other.
#pragma once

#include <Poco/DigestEngine.h>
#include <Poco/HMACEngine.h>
#include <Poco/SHA2Engine.h>

#include <string>

namespace orvex {
namespace test {

// SHA-256 with the block and digest sizes HMACEngine needs.
class Sha256Engine : public Poco::SHA2Engine {
 public:
  enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
  Sha256Engine() : Poco::SHA2Engine(SHA_256) {}
};

inline std::string hmacSha256Hex(const std::string& text, const std::string& secret) {
  Poco::HMACEngine<Sha256Engine> hmac(secret);
  hmac.update(text);
  return Poco::DigestEngine::digestToHex(hmac.digest());
}

// MD5 of the empty body, as every GET carries it.
inline const char* emptyMd5() { return "d41d8cd98f00b204e9800998ecf8427e"; }

// "FC key:hex" over a canonical text the caller writes out by hand.
inline std::string authorization(const std::string& key, const std::string& secret,
                                 const std::string& canonical) {
  return "FC " + key + ":" + hmacSha256Hex(canonical, secret);
}

}  // namespace test
}  // namespace orvex
