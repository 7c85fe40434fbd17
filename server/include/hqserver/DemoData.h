// The embedded data set the service answers from when it is given no data files.
//
// Deterministic: every build of it holds the same records. Four targets ("CFFEX.IF2409",
// "DCE.m2409", "SHFE.cu2409", "SHFE.rb2410"), two keys ("tick": a trade every 250 ms;
// "kline1m": one-minute bars made from those ticks), five trading days (2024-06-03 to 2024-06-07),
// each with the sessions 01:30-03:30 and 05:00-07:00 UTC: 1,156,800 records in all.
//
// Modification times: a tick is modified 20-49 ms after its time, a bar 1 s after its minute ends.
// Every 997th tick of a day and the last bar of each session are corrected again at the day's
// settlement (08:00 UTC), so modification-time order differs from time order.
#pragma once

#include <cstdint>
#include <memory>

#include "hqserver/DataStore.h"

namespace orvex {
namespace hqserver {

class DemoData {
 public:
  static constexpr int kTargets = 4;
  static constexpr int kDays = 5;
  static constexpr int64_t kTickStepNs = 250'000'000;
  static constexpr int64_t kFirstDayUtcNs = 1717372800LL * 1'000'000'000;  // 2024-06-03 00:00 UTC

  // Builds the sealed store. Thread-safe; takes a few hundred milliseconds at most.
  static std::shared_ptr<const DataStore> build();
};

}  // namespace hqserver
}  // namespace orvex
