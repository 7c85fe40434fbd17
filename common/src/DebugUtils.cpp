// Debug print of a labelled time range.
#include "orvex/DebugUtils.h"

#include "orvex/Log.h"
#include "orvex/Timestamp.h"
#include "orvex/TopicUtils.h"

namespace orvex {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(kLoggerName);

// Local date and time of a nanosecond instant, date and time separated by a blank.
std::string localText(int64_t nsec) {
  return Timestamp(TopicUtils::nsec2msec(nsec), KvTimeZoneLocal).toLocalString(' ');
}

}  // namespace

void DebugUtils::debugPrint(const std::string& title, const UtcTimePeriod& period) {
  ORVEX_LOG_DEBUG(logger, title << ",time=[" << localText(period.begin) << ','
                                << localText(period.end) << "]=[" << period.begin << ','
                                << period.end << ']');
}

}  // namespace orvex
