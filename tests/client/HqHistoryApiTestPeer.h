// Reaches the private operations and state of HqHistoryApi for tests.
#pragma once

#include <mutex>
#include <string>
#include <utility>

#include "orvex/HqHistoryApi.h"

namespace orvex {

class HqHistoryApiTestPeer {
 public:
  explicit HqHistoryApiTestPeer(HqHistoryApi& api) : api_(api) {}

  HttpSessionPool& pool() { return api_.sessionPool; }
  const AccessInfo& accessInfo() const { return api_.accessInfo; }
  std::string cachedToken() const {
    std::lock_guard<std::mutex> lock(api_.tokenMutex);
    return api_.token;
  }
  int32_t waitMsec() const { return api_.waitMsec.load(); }

  ResultStatus initFcKeySecret() { return api_.initFcKeySecret(); }
  static HeaderMap genHeader(int32_t timeoutMsec, const std::string& auth) {
    return HqHistoryApi::genHeader(timeoutMsec, auth);
  }
  static std::string getHeader(const HeaderMap& headers, const std::string& name,
                               const std::string& defaultValue) {
    return HqHistoryApi::getHeader(headers, name, defaultValue);
  }
  ResultStatus getToken(const std::string& stale, std::string& out) const {
    return api_.getToken(stale, out);
  }
  std::pair<ResultStatus, HeaderMap> fillToken(const std::string& stale,
                                               const HeaderMap& headers) const {
    return api_.fillToken(stale, headers);
  }
  void setWaitServerMsec(int32_t msec) const { api_.setWaitServerMsec(msec); }

 private:
  HqHistoryApi& api_;
};

}  // namespace orvex
