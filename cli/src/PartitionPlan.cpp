#include "PartitionPlan.h"

#include <algorithm>
#include <climits>

#include "TimeText.h"

namespace orvex {
namespace cli {
namespace {

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

std::vector<Partition> PartitionPlan::build(const CliOptions& options) {
  std::vector<Partition> plan;
  const std::string& key = options.args[0];
  const int64_t firstDay = floorDiv(options.beginTime, kDayNs);
  const int64_t lastDay = floorDiv(options.endTime, kDayNs);
  size_t index = 0;
  for (size_t t = 1; t < options.args.size(); ++t) {
    for (int64_t day = firstDay; day <= lastDay; ++day, ++index) {
      if (static_cast<int64_t>(index % options.shardCount) != options.shardIndex) continue;
      Partition p;
      p.index = index;
      p.key = key;
      p.target = options.args[t];
      p.day = formatIso(day * kDayNs).substr(0, 10);
      p.begin = std::max(options.beginTime, day * kDayNs);
      const int64_t start = day * kDayNs;
      // The last day of the 64-bit range ends at its largest value.
      const bool lastOfRange = start > INT64_MAX - (kDayNs - 1);
      p.end = lastOfRange ? options.endTime : std::min(options.endTime, start + kDayNs - 1);
      plan.push_back(p);
    }
  }
  return plan;
}

}  // namespace cli
}  // namespace orvex
