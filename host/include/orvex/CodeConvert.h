// Conversion between UTF-8 and GBK (code page 936). Stateless, thread-safe, never throw:
// bytes that cannot be converted become '?'.
#pragma once

#include <string>

#include "orvex/Export.h"

namespace orvex {

class ORVEX_RUNTIME_API CodeConvert {
 public:
  static std::string utf8_to_gbk(const std::string& utf8);
  static std::string gbk_to_utf8(const std::string& gbk);
};

}  // namespace orvex
