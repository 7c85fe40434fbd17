// Time texts of the common runtime library. Stateless, thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "orvex/Export.h"

namespace orvex {

class ORVEX_RUNTIME_API TimeUtils {
 public:
  // The HTTP date of a UTC time in milliseconds since 1970: "Sun, 06 Nov 1994 08:49:37 GMT".
  static std::string rfc1123DateTime(int64_t utcMs);
};

}  // namespace orvex
