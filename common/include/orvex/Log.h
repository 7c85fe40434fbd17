// Log statements on the plug-in's logger "DaZaviVor".
//
// Every statement tests its level first; nothing is built, formatted or converted for a disabled
// level. An enabled statement builds, in one local buffer: an optional date-time prefix (when
// orvex::isTimeEnabled()), the level tag ("[DEBUG] " ...), the logger's name and a blank, then
// the message pieces, and hands the line to log4cxx in one forcedLog call. Thread-safe.
//
// Usage, with a logger handle held by the source unit:
//   static log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(orvex::kLoggerName);
//   ORVEX_LOG_DEBUG(logger, "reqDataByRange end,requestId=" << requestId << "," << status);
#pragma once

#include <log4cxx/logger.h>

#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {

constexpr const char* kLoggerName = "DaZaviVor";

namespace logline {
// Appends the prefix, `tag` and the logger name with its blank to `buf`; returns `buf`.
log4cxx::helpers::CharMessageBuffer& begin(log4cxx::helpers::CharMessageBuffer& buf,
                                           const char* tag, const log4cxx::LoggerPtr& logger);
}  // namespace logline

}  // namespace orvex

#define ORVEX_LOG_AT(logger, isEnabled, level, tag, message)                            \
  do {                                                                                  \
    if ((logger)->isEnabled()) {                                                        \
      ::log4cxx::helpers::MessageBuffer orvexBuf_;                                      \
      ::orvex::logline::begin(orvexBuf_, tag, logger) << message;                       \
      (logger)->forcedLog(level, orvexBuf_.str(orvexBuf_), LOG4CXX_LOCATION);           \
    }                                                                                   \
  } while (0)

#define ORVEX_LOG_TRACE(logger, message) \
  ORVEX_LOG_AT(logger, isTraceEnabled, ::log4cxx::Level::getTrace(), "[TRACE] ", message)
#define ORVEX_LOG_DEBUG(logger, message) \
  ORVEX_LOG_AT(logger, isDebugEnabled, ::log4cxx::Level::getDebug(), "[DEBUG] ", message)
#define ORVEX_LOG_INFO(logger, message) \
  ORVEX_LOG_AT(logger, isInfoEnabled, ::log4cxx::Level::getInfo(), "[INFO ] ", message)
#define ORVEX_LOG_WARN(logger, message) \
  ORVEX_LOG_AT(logger, isWarnEnabled, ::log4cxx::Level::getWarn(), "[WARN ] ", message)
#define ORVEX_LOG_ERROR(logger, message) \
  ORVEX_LOG_AT(logger, isErrorEnabled, ::log4cxx::Level::getError(), "[ERROR] ", message)
