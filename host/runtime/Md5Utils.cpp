// 64-bit text hashes taken from the MD5 digest, stable across processes and platforms.
#include "orvex/Md5Utils.h"

#include <Poco/MD5Engine.h>

namespace orvex {

int64_t Md5Utils::hash(const std::string& text) {
  Poco::MD5Engine engine;
  engine.update(text);
  const Poco::DigestEngine::Digest& digest = engine.digest();
  uint64_t value = 0;
  for (size_t i = 0; i < 8; ++i) value = (value << 8) | digest[i];
  return static_cast<int64_t>(value);
}

}  // namespace orvex
