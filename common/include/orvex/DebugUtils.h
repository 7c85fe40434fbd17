// Debug print of a labelled time range on the "DaZaviVor" logger. Thread-safe.
#pragma once

#include <string>

#include "orvex/Records.h"

namespace orvex {

class DebugUtils {
 public:
  // At DEBUG only: "<title>,time=[<local begin>,<local end>]=[<begin>,<end>]".
  static void debugPrint(const std::string& title, const UtcTimePeriod& period);
};

}  // namespace orvex
