#include "ClientTestSupport.h"

#include <Poco/DigestEngine.h>
#include <Poco/HMACEngine.h>
#include <Poco/MD5Engine.h>
#include <Poco/SHA2Engine.h>

namespace orvex {
namespace test {

namespace {

// Poco's HMACEngine wants the block and digest sizes of its engine as constants.
class Sha256Engine : public Poco::SHA2Engine {
 public:
  enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
  Sha256Engine() : Poco::SHA2Engine(SHA_256) {}
};

std::string asciiSkeleton(const std::string& text) {
  std::string folded;
  bool inRun = false;
  for (char c : text) {
    bool odd = static_cast<unsigned char>(c) >= 0x80 || c == '?';
    if (odd && !inRun) folded.push_back('?');
    if (!odd) folded.push_back(c);
    inRun = odd;
  }
  return folded;
}

}  // namespace

std::vector<std::string> linesWith(const LogCapture& log, const std::string& needle) {
  std::string wanted = asciiSkeleton(needle);
  std::vector<std::string> found;
  for (const std::string& line : log.lines()) {
    if (asciiSkeleton(line).find(wanted) != std::string::npos) found.push_back(line);
  }
  return found;
}

std::string md5Hex(const std::string& data) {
  Poco::MD5Engine engine;
  engine.update(data);
  return Poco::DigestEngine::digestToHex(engine.digest());
}

std::string hmacSha256Hex(const std::string& key, const std::string& data) {
  Poco::HMACEngine<Sha256Engine> engine(key);
  engine.update(data);
  return Poco::DigestEngine::digestToHex(engine.digest());
}

}  // namespace test
}  // namespace orvex
