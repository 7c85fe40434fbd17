// The synchronous commands: name (getServerName), last (getLastData), cache (getDataCache) and
// range (getData). Each prints what arrived, even before a failure, and reports failures,
// warnings and shortfalls to the context's Outcome.
//
// Stateless; each call runs on the calling thread.
#pragma once

#include "CliApp.h"

namespace orvex {
namespace cli {

class LookupCommands {
 public:
  static void name(CommandContext& context);
  static void last(CommandContext& context);
  static void cache(CommandContext& context);
  static void range(CommandContext& context);

  // The records getData returns at most: 100 steps of 1000.
  static constexpr int64_t kRangeLimit = 100 * 1000;
};

}  // namespace cli
}  // namespace orvex
