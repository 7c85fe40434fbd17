#include "ExceptionBarrier.h"

#include <log4cxx/logger.h>

#include "orvex/Log.h"

namespace marketdata {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(orvex::kLoggerName);

}  // namespace

orvex::ResultStatus ExceptionBarrier::caught(const char* operation, const char* what) noexcept {
  orvex::ResultStatus status(orvex::EN_ICE_SERVER_EXCEPTION);
  try {
    status.msg = what;
    ORVEX_LOG_ERROR(logger, operation << " failed: " << status);
  } catch (...) {
    // Out of memory for the text or the log line: the code alone still tells the host.
  }
  return status;
}

}  // namespace marketdata
