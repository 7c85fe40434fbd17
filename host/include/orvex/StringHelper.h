// Text helpers of the common runtime library. Stateless, thread-safe, never throw.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orvex/Export.h"

namespace orvex {

class ORVEX_RUNTIME_API StringHelper {
 public:
  // Decimal integers with an optional sign, surrounding blanks ignored. Empty, unreadable or
  // out-of-range text gives 0.
  static int32_t ToInt(const std::string& text);
  static int64_t ToInt64(const std::string& text);
  // "true" (any case) or a non-zero integer gives true; anything else, empty included, false.
  static bool ToBool(const std::string& text);

  // ASCII letters lowered; other bytes unchanged.
  static std::string ToLowerCase(const std::string& text);
  // The items joined by `separator`, without a trailing separator.
  static std::string ToCsvString(const std::vector<std::string>& items, char separator);

  // Lower-case hex of the MD5 digest of `data`.
  static std::string md5(const std::string& data);
  // Lower-case hex of HMAC-SHA256 of `data` with `key` as the HMAC key.
  static std::string sha256(const std::string& data, const std::string& key);
};

}  // namespace orvex
