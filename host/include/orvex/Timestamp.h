// A point in time with millisecond resolution. A plain value; thread-safe to copy.
#pragma once

#include <cstdint>
#include <string>

#include "orvex/Export.h"

namespace orvex {

// Time zone of a Timestamp's local texts. 0 is the process's local time zone.
enum KvTimeZone : int32_t { KvTimeZoneLocal = 0, KvTimeZoneUtc = 1 };

class ORVEX_RUNTIME_API Timestamp {
 public:
  static Timestamp now(int32_t zone);
  Timestamp(int64_t utcMs, int32_t zone);

  int64_t toUtcMsEponch() const { return utcMs_; }
  // "2024-01-02<separator>03:04:05.678" in the stamp's zone.
  std::string toLocalString(char separator) const;
  // "2024-01-02 03:04:05.678" in the stamp's zone.
  std::string toDateTimeString() const;

 private:
  int64_t utcMs_;
  int32_t zone_;
};

// Whether log lines carry a date-time prefix. Off until a host turns it on. Thread-safe.
ORVEX_RUNTIME_API bool isTimeEnabled();
ORVEX_RUNTIME_API void setTimeEnabled(bool enabled);

}  // namespace orvex
