// HqHistoryApi: the HTTP exchange (signing, sessions, retries, failure mapping) and the pause
// between requests that the service asks for.
//
// Sessions are owned by one exchange between pop and push; only a successful attempt gives its
// session back, so a session that timed out or failed is never reused. The pause is a single
// atomic value read without a lock.

#include <chrono>
#include <exception>
#include <thread>
#include <utility>

#include "orvex/CodeConvert.h"
#include "orvex/HqHistoryApi.h"
#include "orvex/KvHttp.h"
#include "orvex/Log.h"
#include "orvex/Messages.h"
#include "orvex/RequestSigner.h"
#include "orvex/StringHelper.h"

namespace orvex {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(kLoggerName);

const char* const kWaitHeader = "kv_reqwait_msec";
const int32_t kMinWaitMsec = 1;
const int32_t kMaxWaitMsec = 29999;
const size_t kMaxFailureMessageBytes = 200;

// What the attempt loop does with one answer.
enum class Verdict { kSucceeded, kRetry, kFailed };

// The retry decision. A time-out is always worth another attempt (the loop stops when none is
// left); a token error only while an attempt is left; every other failure is final.
Verdict judgeAttempt(int32_t code, int32_t attemptsLeft) {
  if (code == OK) {
    return Verdict::kSucceeded;
  }
  if (code == TIMEOUT || (code == EN_TokenErr && attemptsLeft > 0)) {
    return Verdict::kRetry;
  }
  return Verdict::kFailed;
}

// Sessions of a relative URI belong to the configured service; an absolute URI names its own.
std::string poolKeyOf(const Poco::URI& uri, const std::string& host) {
  if (uri.getScheme().empty()) {
    return host;
  }
  Poco::URI origin;
  origin.setScheme(uri.getScheme());
  origin.setHost(uri.getHost());
  origin.setPort(uri.getPort());  // Poco leaves the scheme's well-known port out of the text
  return origin.toString();
}

ResultStatus getFailedForGood(ResultStatus status, const std::string& response) {
  if (!response.empty()) {
    status.msg.append(",rsp=").append(CodeConvert::utf8_to_gbk(response));
  }
  ORVEX_LOG_WARN(logger, "HqHistoryApi client->getRspHeader fail,ret=" << status.toString());
  status.code = EN_ICE_NET_ERROR;
  if (status.msg.size() > kMaxFailureMessageBytes) {
    status.msg.resize(kMaxFailureMessageBytes);
  }
  return status;
}

ResultStatus postFailedForGood(const ResultStatus& status, const std::string& response) {
  ORVEX_LOG_WARN(logger, "HqHistoryApi client->post fail,ret=" << status.toString());
  return ResultStatus(EN_ICE_NET_ERROR, response);
}

}  // namespace

ResultStatus HqHistoryApi::getRequest(const Poco::URI& uri, const HeaderMap& headers, int32_t tries,
                                      std::string& response) const {
  HeaderMap rspHeaders;
  return getRequestRspHeader(uri, headers, tries, response, rspHeaders);
}

ResultStatus HqHistoryApi::getRequestRspHeader(const Poco::URI& uri, const HeaderMap& headers,
                                               int32_t tries, std::string& response,
                                               HeaderMap& rspHeaders) const {
  RequestSigner signer(accessInfo.key, accessInfo.secret);
  ResultStatus signStatus = signer.sign(uri, "GET", std::string(), headers);
  if (!signStatus.ok()) {
    return signStatus;
  }
  ResultStatus status =
      doGetRspHeader(uri, signer.signedHeaders(headers), tries, response, rspHeaders);

  // The service may ask for a pause in any answer, failed ones included.
  auto wait = rspHeaders.find(kWaitHeader);
  if (wait != rspHeaders.end() && !wait->second.empty()) {
    setWaitServerMsec(StringHelper::ToInt(wait->second));
  }
  return status;
}

ResultStatus HqHistoryApi::postRequest(const Poco::URI& uri, const HeaderMap& headers,
                                       const std::string& body, int32_t tries,
                                       std::string& response) const {
  RequestSigner signer(accessInfo.key, accessInfo.secret);
  ResultStatus signStatus = signer.sign(uri, "POST", body, headers);
  if (!signStatus.ok()) {
    return signStatus;
  }
  return doPost(uri, signer.signedHeaders(headers), body, tries, response);
}

ResultStatus HqHistoryApi::doGetRspHeader(const Poco::URI& uri, const HeaderMap& headers,
                                          int32_t tries, std::string& response,
                                          HeaderMap& rspHeaders) const {
  try {
    const std::string pathAndQuery = uri.getPathAndQuery();
    const std::string poolKey = poolKeyOf(uri, host);
    auto send = [&](KvHttp& session, const HeaderMap& withToken) {
      return session.getRspHeader(response, rspHeaders, pathAndQuery, withToken);
    };
    bool failedForGood = false;
    ResultStatus status = runAttempts(poolKey, headers, tries, response, send, failedForGood);
    return failedForGood ? getFailedForGood(std::move(status), response) : status;
  } catch (const std::exception& e) {
    return ResultStatus(EN_ICE_SERVER_EXCEPTION, e.what());
  }
}

ResultStatus HqHistoryApi::doPost(const Poco::URI& uri, const HeaderMap& headers,
                                  const std::string& body, int32_t tries,
                                  std::string& response) const {
  try {
    const std::string pathAndQuery = uri.getPathAndQuery();
    const std::string poolKey = poolKeyOf(uri, host);
    auto send = [&](KvHttp& session, const HeaderMap& withToken) {
      return session.post(response, pathAndQuery, body, withToken);
    };
    bool failedForGood = false;
    ResultStatus status = runAttempts(poolKey, headers, tries, response, send, failedForGood);
    if (failedForGood) {
      return postFailedForGood(status, response);
    }
    if (status.ok()) {
      status.msg = poolKey + pathAndQuery;
    }
    return status;
  } catch (const std::exception& e) {
    return ResultStatus(EN_ICE_SERVER_EXCEPTION, e.what());
  }
}

template <typename Send>
ResultStatus HqHistoryApi::runAttempts(const std::string& poolKey, const HeaderMap& headers,
                                       int32_t tries, std::string& response, const Send& send,
                                       bool& failedForGood) const {
  ResultStatus lastStatus;
  failedForGood = false;
  while (tries >= 1) {
    --tries;
    std::shared_ptr<KvHttp> session = sessionPool.pop(poolKey);
    if (!session) {
      ORVEX_LOG_ERROR(logger, "HqHistoryApi, " << msg::kNoSession);
      return ResultStatus(EN_ICE_NET_ERROR, msg::kNoSession);
    }
    response.clear();
    auto [tokenStatus, withToken] = fillToken(std::string(), headers);
    if (!tokenStatus.ok()) {
      lastStatus = std::move(tokenStatus);
      continue;  // the session is dropped, not given back
    }
    lastStatus = send(*session, withToken);
    switch (judgeAttempt(lastStatus.code, tries)) {
      case Verdict::kSucceeded:
        sessionPool.push(poolKey, std::move(session));
        return lastStatus;
      case Verdict::kRetry:
        continue;
      case Verdict::kFailed:
        failedForGood = true;
        return lastStatus;
    }
  }
  return lastStatus;
}

void HqHistoryApi::setWaitServerMsec(int32_t msec) const {
  int32_t last = waitMsec.exchange(msec);
  if (msec != last) {
    ORVEX_LOG_INFO(logger, "HqHistoryApi, set waitMsec=" << msec << ",last=" << last);
  }
}

void HqHistoryApi::waitServerMsec() const {
  int32_t msec = waitMsec.load();
  if (msec >= kMinWaitMsec && msec <= kMaxWaitMsec) {
    std::this_thread::sleep_for(std::chrono::milliseconds(msec));
  }
}

}  // namespace orvex
