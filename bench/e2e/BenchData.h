// The data set the end-to-end benchmark serves: large enough for the request sizes it measures.
//
// The service's embedded set holds 288,000 ticks per target and four targets, short of a
// 1,000,000-record range and of 10,000 targets, so the benchmark builds its own, deterministic
// set in the same record shape (nanosecond times, short prices, a short data text):
//   kRangeTarget          1,100,000 ticks 250 ms apart (range, page and memory runs)
//   kThreadTarget(i)      kThreadRecords ticks each, one target per host thread (i < kThreads)
//   kLastTarget(i)        one record each, i < kLastTargets (latest-data run)
// All under the key kKey. Modification times follow record times (20-49 ms later), so the
// modification-time order equals the time order. Thread-safe: build() may run on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hqserver/DataStore.h"

namespace orvex {
namespace bench {

class BenchData {
 public:
  static constexpr const char* kKey = "tick";
  static constexpr const char* kRangeTarget = "BENCH.RANGE";
  static constexpr int64_t kRangeRecords = 1'100'000;
  static constexpr int kThreads = 8;
  static constexpr int64_t kThreadRecords = 100'000;
  static constexpr int kLastTargets = 10'000;
  static constexpr int64_t kFirstTimeNs = 1'700'000'000'000'000'000;  // late 2023
  static constexpr int64_t kStepNs = 250'000'000;

  static std::string threadTarget(int index);
  static std::string lastTarget(int index);

  // Time and modification time of the record at `index` of every series.
  static int64_t timeAt(int64_t index) { return kFirstTimeNs + index * kStepNs; }
  static int64_t mtmAt(int64_t index) { return timeAt(index) + (20 + index % 30) * 1'000'000; }

  // The sealed store; takes about a second.
  static std::shared_ptr<const hqserver::DataStore> build();
};

}  // namespace bench
}  // namespace orvex
