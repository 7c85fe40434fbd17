// HqHistoryApi: construction, start-up on a service address, and the access key and secret.

#include "orvex/HqHistoryApi.h"

#include <boost/any.hpp>

#include "orvex/Environment.h"
#include "orvex/KvHttp.h"
#include "orvex/Log.h"
#include "orvex/Timestamp.h"

namespace orvex {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(kLoggerName);

const char* const kConfigPrefix = "fc";
const int32_t kAccessInfoKind = 2;
const int64_t kKeepAliveMsec = 30000;

SessionOptions sessionOptions(const std::string& address) {
  SessionOptions options;
  options["Keep-Alive"] = OptKeepAlive{kKeepAliveMsec};
  options["Record-Log"] = false;
  options["Host"] = address;
  return options;
}

}  // namespace

HqHistoryApi::HqHistoryApi() = default;

HqHistoryApi::~HqHistoryApi() = default;

ResultStatus HqHistoryApi::init(const std::string& address, std::string& initTime,
                                uint32_t sessionCount) {
  initTime = Timestamp::now(0).toLocalString('-');
  // The sessions of the previous address (or of this one, when connecting again) make way for
  // the new ones, so reconnecting never grows the pool.
  if (!host.empty()) sessionPool.removeSessions(host);
  host = address;
  // An empty pool is not fatal here: every request then reports the missing session.
  sessionPool.addSession(sessionOptions(address), sessionCount);

  ResultStatus keyStatus = initFcKeySecret();
  if (!keyStatus.ok()) {
    ORVEX_LOG_INFO(logger, "HqHistoryApi initFcKeySecret fail, ret=" << keyStatus.toString());
  }
  return heartBeat(std::string());
}

ResultStatus HqHistoryApi::release() { return ResultStatus(); }

ResultStatus HqHistoryApi::GetHost(std::string& host) const {
  host = this->host;
  return ResultStatus();
}

ResultStatus HqHistoryApi::initFcKeySecret() {
  const vantor::Environment& env = vantor::Environment::instance();
  const std::string prefix(kConfigPrefix);
  accessInfo.key = env.getValue(prefix + "_key", "");
  accessInfo.secret = env.getValue(prefix + "_secret", "");
  if (!accessInfo.key.empty()) {
    return ResultStatus();
  }
  std::shared_ptr<IAuthService> auth = IServiceRouter::instance().getAuthService();
  if (!auth) {
    return ResultStatus();
  }
  return auth->fetchAccessInfo(kAccessInfoKind, accessInfo);
}

}  // namespace orvex
