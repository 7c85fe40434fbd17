// Millisecond time points and their texts; the time-prefix switch of log lines.
#include "orvex/Timestamp.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace orvex {
namespace {

std::atomic<bool> gTimeEnabled{false};

}  // namespace

Timestamp Timestamp::now(int32_t zone) {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return Timestamp(std::chrono::duration_cast<std::chrono::milliseconds>(since).count(), zone);
}

Timestamp::Timestamp(int64_t utcMs, int32_t zone) : utcMs_(utcMs), zone_(zone) {}

std::string Timestamp::toLocalString(char separator) const {
  // Floor division keeps the millisecond part in 0..999 for times before 1970.
  int64_t seconds = utcMs_ / 1000;
  int64_t millis = utcMs_ % 1000;
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  time_t t = static_cast<time_t>(seconds);
  struct tm parts {};
  bool converted =
      zone_ == KvTimeZoneUtc ? gmtime_r(&t, &parts) != nullptr : localtime_r(&t, &parts) != nullptr;
  if (!converted) return std::string();
  char text[64];
  int n = std::snprintf(text, sizeof(text), "%04d-%02d-%02d%c%02d:%02d:%02d.%03d",
                        parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, separator,
                        parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(millis));
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

std::string Timestamp::toDateTimeString() const { return toLocalString(' '); }

bool isTimeEnabled() { return gTimeEnabled.load(std::memory_order_relaxed); }

void setTimeEnabled(bool enabled) { gTimeEnabled.store(enabled, std::memory_order_relaxed); }

}  // namespace orvex
