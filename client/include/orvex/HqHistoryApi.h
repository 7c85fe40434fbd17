// The client of the remote history quote service.
//
// Every query is a signed HTTP GET through a pool of keep-alive sessions, carrying the
// identification headers and the access token; time-outs and token errors are retried, and the
// service may ask the client to pause between range and page queries.
//
// Thread-safety: queries may run from several threads at once (the token, the pause and the
// session pool guard themselves). init must not run while queries are in flight.
#pragma once

#include <Poco/URI.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "orvex/HistoryExport.h"
#include "orvex/HttpSessionPool.h"
#include "orvex/IServiceRouter.h"
#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace marketdata {
class HistoryWrapper;
}

namespace orvex {

class ORVEX_HISTORY_API HqHistoryApi {
 public:
  HqHistoryApi();
  ~HqHistoryApi();

  HqHistoryApi(const HqHistoryApi&) = delete;
  HqHistoryApi& operator=(const HqHistoryApi&) = delete;

  // Starts the client on `address` with `sessionCount` sessions, reads key and secret, and
  // returns the result of a heartbeat. `initTime` receives the start time as text.
  ResultStatus init(const std::string& address, std::string& initTime, uint32_t sessionCount);
  // Does nothing; OK.
  ResultStatus release();
  // The address given to init ("" before).
  ResultStatus GetHost(std::string& host) const;

  // The HTTP exchange: signs, retries TIMEOUT and EN_TokenErr up to `tries` attempts.
  ResultStatus getRequest(const Poco::URI& uri, const HeaderMap& headers, int32_t tries,
                          std::string& response) const;
  ResultStatus getRequestRspHeader(const Poco::URI& uri, const HeaderMap& headers, int32_t tries,
                                   std::string& response, HeaderMap& rspHeaders) const;
  ResultStatus postRequest(const Poco::URI& uri, const HeaderMap& headers, const std::string& body,
                           int32_t tries, std::string& response) const;

  // "/QryLast": the latest record of each target for topic key `key`, appended to `out`.
  ResultStatus getLastData(const std::string& key, const std::vector<std::string>& targets,
                           std::vector<CloudTopic>& out) const;
  // "/QryLast" under "ce_<key>": the cached latest record of one topic.
  ResultStatus getDataCache(const TopicKey& key, CloudTopic& out) const;
  // "/QryCodeType": one target's records over the request's range; `unused` is left alone.
  ResultStatus getDataByRange(const TopicReq& req, int64_t& unused,
                              std::vector<CloudTopic>& out) const;
  // "/QryPageTgtDetailV2": one page; `rsp` is filled from the answer's headers even on failure.
  ResultStatus getDataByPage(const PageReq& req, PageResponse& rsp,
                             std::vector<CloudTopic>& out) const;

  // "/HeartBeat" and "/getServerVersion".
  ResultStatus heartBeat(const std::string& auth) const;
  ResultStatus getServerName(std::string& serverName) const;

 private:
  friend class marketdata::HistoryWrapper;
  friend class HqHistoryApiTestPeer;

  ResultStatus initFcKeySecret();

  ResultStatus getToken(const std::string& staleToken, std::string& out) const;
  std::pair<ResultStatus, HeaderMap> fillToken(const std::string& staleToken,
                                               const HeaderMap& headers) const;
  static ResultStatus refreshToken(std::string& token);
  static HeaderMap genHeader(int32_t timeoutMsec, const std::string& auth);
  static std::string getHeader(const HeaderMap& headers, const std::string& name,
                               const std::string& defaultValue);

  ResultStatus doGetRspHeader(const Poco::URI& uri, const HeaderMap& headers, int32_t tries,
                              std::string& response, HeaderMap& rspHeaders) const;
  ResultStatus doPost(const Poco::URI& uri, const HeaderMap& headers, const std::string& body,
                      int32_t tries, std::string& response) const;
  // The attempt loop shared by doGetRspHeader and doPost: `send(session, headersWithToken)` makes
  // one attempt. Sets `failedForGood` when an answer ended the exchange without a retry.
  template <typename Send>
  ResultStatus runAttempts(const std::string& poolKey, const HeaderMap& headers, int32_t tries,
                           std::string& response, const Send& send, bool& failedForGood) const;
  void setWaitServerMsec(int32_t msec) const;
  void waitServerMsec() const;

  ResultStatus getLastDatas(const std::vector<std::string>& targets, const std::string& types,
                            std::string& body, int32_t timeoutMsec) const;
  ResultStatus doGetQuote(const TopicReq& req, std::vector<CloudTopic>& out) const;
  ResultStatus getHistoryQuotes(const std::string& code, const std::string& type,
                                const UtcTimePeriod& period, int32_t count, std::string& body,
                                int32_t timeoutMsec) const;
  ResultStatus getMultiByPage(const PageReq& req, PageResponse& rsp, std::string& body,
                              int32_t timeoutMsec) const;

  mutable HttpSessionPool sessionPool;
  std::string host;
  AccessInfo accessInfo;
  mutable std::atomic<int32_t> waitMsec{0};
  mutable std::mutex tokenMutex;
  mutable std::string token;
};

}  // namespace orvex
