// Stable 64-bit hashes of texts. Stateless, thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "orvex/Export.h"

namespace orvex {

class ORVEX_RUNTIME_API Md5Utils {
 public:
  // The first eight bytes of the MD5 digest of `text`, read big-endian as a signed 64-bit value.
  static int64_t hash(const std::string& text);
};

}  // namespace orvex
