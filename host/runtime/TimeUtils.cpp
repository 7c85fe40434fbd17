// HTTP date texts, built by hand so that neither the locale nor the process's time zone leaks in.
#include "orvex/TimeUtils.h"

#include <cstdio>
#include <ctime>

namespace orvex {
namespace {

constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Whole seconds, rounding toward negative infinity so that times before 1970 keep their second.
time_t floorSeconds(int64_t ms) {
  int64_t seconds = ms / 1000;
  if (ms % 1000 < 0) --seconds;
  return static_cast<time_t>(seconds);
}

}  // namespace

std::string TimeUtils::rfc1123DateTime(int64_t utcMs) {
  time_t seconds = floorSeconds(utcMs);
  struct tm parts {};
  if (gmtime_r(&seconds, &parts) == nullptr) return std::string();
  char text[64];
  int n = std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d GMT",
                        kDays[parts.tm_wday], parts.tm_mday, kMonths[parts.tm_mon],
                        parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
}

}  // namespace orvex
