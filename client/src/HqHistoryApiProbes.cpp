// HqHistoryApi: the service probes "/HeartBeat" and "/getServerVersion".
//
// Probes are not paced and use a shorter time-out than the data queries.

#include <string>

#include "orvex/HqHistoryApi.h"
#include "orvex/Log.h"
#include "orvex/ServerNameReader.h"

namespace orvex {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(kLoggerName);

const int32_t kProbeTimeoutMsec = 5000;
const int32_t kTries = 3;
const char* const kServerVersionPath = "/getServerVersion";
const char* const kHeartBeatPath = "/HeartBeat";

}  // namespace

ResultStatus HqHistoryApi::getServerName(std::string& serverName) const {
  HeaderMap headers = genHeader(kProbeTimeoutMsec, std::string());
  std::string body;
  HeaderMap rspHeaders;
  ResultStatus status =
      getRequestRspHeader(Poco::URI(kServerVersionPath), headers, kTries, body, rspHeaders);
  if (!status.ok()) {
    ORVEX_LOG_DEBUG(logger, "getServerName, url=" << kServerVersionPath << ",rsp=" << body
                                                  << ",msg=" << status.msg);
    return status;
  }
  // The exchange's own status is the result unless the body cannot be read.
  ResultStatus read = readServerName(body, serverName);
  return read.ok() ? status : read;
}

ResultStatus HqHistoryApi::heartBeat(const std::string& auth) const {
  HeaderMap headers = genHeader(kProbeTimeoutMsec, auth);
  std::string body;
  HeaderMap rspHeaders;
  ResultStatus status =
      getRequestRspHeader(Poco::URI(kHeartBeatPath), headers, kTries, body, rspHeaders);
  if (!status.ok()) {
    ORVEX_LOG_DEBUG(
        logger, "HeartBeat, url=" << kHeartBeatPath << ",rsp=" << body << ",msg=" << status.msg);
  }
  return status;
}

}  // namespace orvex
