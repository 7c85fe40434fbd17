// The fixed start of every log line: optional date-time, level tag, logger name.
#include "orvex/Log.h"

#include "orvex/Timestamp.h"

namespace orvex {
namespace logline {

namespace {

Line appendName(log4cxx::helpers::CharMessageBuffer& buf, const log4cxx::LoggerPtr& logger) {
#if LOG4CXX_LOGCHAR_IS_UTF8
  buf << logger->getName();
#else
  std::string name;
  logger->getName(name);
  buf << name;
#endif
  buf << ' ';
  return Line(buf);
}

}  // namespace

Line begin(log4cxx::helpers::MessageBuffer& buf, const char* tag,
           const log4cxx::LoggerPtr& logger) {
  // Every piece here is text, so the buffer stays a plain string (no std::ostream yet).
  if (!isTimeEnabled()) {
    return appendName(buf << tag, logger);
  }
  return appendName(buf << Timestamp::now(KvTimeZoneLocal).toDateTimeString() << ' ' << tag,
                    logger);
}

}  // namespace logline
}  // namespace orvex
