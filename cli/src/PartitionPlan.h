// The partitions of a download: one per key, target and UTC day within [begin, end], numbered
// in that order, and the share of them that one shard takes.
//
// Plain values; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace orvex {
namespace cli {

struct Partition {
  size_t index = 0;  // position in the whole plan, before sharding
  std::string key;
  std::string target;
  std::string day;    // "2024-06-04"
  int64_t begin = 0;  // the part of [begin, end] within the day, nanoseconds, inclusive
  int64_t end = 0;
  std::string name() const { return key + "/" + target + "/" + day; }
};

class PartitionPlan {
 public:
  // Every partition of `options` (download: args, beginTime, endTime) whose index modulo
  // shardCount is shardIndex.
  static std::vector<Partition> build(const CliOptions& options);

  static constexpr int64_t kDayNs = 86400LL * 1000000000LL;
};

}  // namespace cli
}  // namespace orvex
