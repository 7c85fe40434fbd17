// What the end-to-end benchmark asks for, and what one run of it gave.
#pragma once

#include <cstdint>
#include <string>

namespace orvex {
namespace bench {

// One target's records over [beginTime, endTime], newest first, at most maxCount of them.
struct RangeQuery {
  std::string target;
  std::string key;
  int64_t beginTime = 0;
  int64_t endTime = 0;
  int32_t maxCount = 0;
};

// One target's records whose modification time lies in [beginMtm, endMtm], page by page.
struct PageQuery {
  std::string target;
  std::string key;
  int64_t beginMtm = 0;
  int64_t endMtm = 0;
};

// The outcome of one run.
struct RunResult {
  uint64_t records = 0;   // records delivered to the host (or parsed, for the raw floor)
  uint64_t requests = 0;  // HTTP requests the service answered
  double seconds = 0;
  double cpuSeconds = 0;  // CPU time of the whole process (client, pools and service) meanwhile
  bool complete = false;  // every expected record arrived, in order, nothing failed
  std::string error;      // why not complete

  double recordsPerSecond() const { return seconds > 0 ? records / seconds : 0; }
  double requestsPerSecond() const { return seconds > 0 ? requests / seconds : 0; }
  double cpuMicrosPerRequest() const { return requests > 0 ? cpuSeconds * 1e6 / requests : 0; }
};

}  // namespace bench
}  // namespace orvex
