// HqHistoryApi: the record queries "/QryLast", "/QryCodeType" and "/QryPageTgtDetailV2".
//
// Every argument travels in the query string; the answers are record texts that TopicUtils
// converts. The range and page queries wait out the service's pause before they send.

#include <string>
#include <utility>

#include "orvex/HqHistoryApi.h"
#include "orvex/Log.h"
#include "orvex/Messages.h"
#include "orvex/StringHelper.h"
#include "orvex/TopicUtils.h"

namespace orvex {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(kLoggerName);

const int32_t kDataTimeoutMsec = 8000;
const int32_t kTries = 3;

// Every target followed by a comma, the last one included: the service expects it.
std::string lastDataCodes(const std::vector<std::string>& targets) {
  std::string codes;
  for (const std::string& target : targets) {
    codes.append(target).append(",");
  }
  return codes;
}

// The targets joined by commas, none after the last.
std::string pageTargets(const std::vector<std::string>& targets) {
  std::string joined = lastDataCodes(targets);
  joined.pop_back();
  return joined;
}

std::string headerOrEmpty(const HeaderMap& headers, const char* name) {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

void readPageAnswer(const HeaderMap& rspHeaders, PageResponse& rsp) {
  rsp.page = StringHelper::ToInt(headerOrEmpty(rspHeaders, "page"));
  rsp.relationMtm = StringHelper::ToInt64(headerOrEmpty(rspHeaders, "relationmtm"));
  rsp.nameMaxMtm = StringHelper::ToInt64(headerOrEmpty(rspHeaders, "namemaxmtm"));
  rsp.isLast = StringHelper::ToBool(headerOrEmpty(rspHeaders, "islast"));
}

}  // namespace

ResultStatus HqHistoryApi::getLastData(const std::string& key,
                                       const std::vector<std::string>& targets,
                                       std::vector<CloudTopic>& out) const {
  std::string body;
  ResultStatus status = getLastDatas(targets, key, body, kDataTimeoutMsec);
  if (!status.ok()) {
    return status;
  }
  if (!TopicUtils::basicRec2Topics(body, key, out)) {
    return ResultStatus(UNKNOWN, msg::kParseFailed);
  }
  return status;
}

ResultStatus HqHistoryApi::getDataCache(const TopicKey& key, CloudTopic& out) const {
  std::string body;
  ResultStatus status = getLastDatas({key.target}, "ce_" + key.key, body, kDataTimeoutMsec);
  if (!status.ok()) {
    return status;
  }
  std::vector<CloudTopic> topics;
  if (!TopicUtils::basicRec2Topics(body, key.key, topics)) {
    return ResultStatus(UNKNOWN, msg::kParseFailed);
  }
  if (topics.empty()) {
    return ResultStatus(UNKNOWN, msg::kNoDataParsed);
  }
  out = std::move(topics.front());
  return status;
}

ResultStatus HqHistoryApi::getDataByRange(const TopicReq& req, int64_t& /*unused*/,
                                          std::vector<CloudTopic>& out) const {
  return doGetQuote(req, out);
}

ResultStatus HqHistoryApi::getDataByPage(const PageReq& req, PageResponse& rsp,
                                         std::vector<CloudTopic>& out) const {
  std::string body;
  ResultStatus status = getMultiByPage(req, rsp, body, kDataTimeoutMsec);
  if (!status.ok()) {
    return status;
  }
  int64_t maxTime = 0;  // not needed by the callers
  if (!TopicUtils::tgtTopicRaw2Topics(req.type, body, out, maxTime)) {
    return ResultStatus(UNKNOWN, msg::kPageParseFailed);
  }
  return status;
}

ResultStatus HqHistoryApi::getLastDatas(const std::vector<std::string>& targets,
                                        const std::string& types, std::string& body,
                                        int32_t timeoutMsec) const {
  Poco::URI uri;
  uri.setPath("/QryLast");
  uri.addQueryParameter("codes", lastDataCodes(targets));
  uri.addQueryParameter("types", types);
  HeaderMap headers = genHeader(timeoutMsec, std::string());

  HeaderMap rspHeaders;
  ResultStatus status = getRequestRspHeader(uri, headers, kTries, body, rspHeaders);
  if (!status.ok()) {
    status.msg =
        msg::kLastDataFailed + uri.getPathAndQuery() + ",type=" + types + ",ret=" + status.msg;
    ORVEX_LOG_DEBUG(logger, status.msg);
  }
  return status;
}

ResultStatus HqHistoryApi::doGetQuote(const TopicReq& req, std::vector<CloudTopic>& out) const {
  if (req.targets.size() != 1) {
    return ResultStatus(INVALID_PARAM, msg::kOnlyOneTarget);
  }
  const std::string& target = req.targets.front();
  std::string body;
  ResultStatus status =
      getHistoryQuotes(target, req.key, req.getTimePeriod(), req.maxCount, body, kDataTimeoutMsec);
  if (!status.ok()) {
    return status;
  }
  CloudTopic topic;
  topic.target = target;
  topic.key = req.key;
  if (!TopicUtils::basicRec2TopicBodys(body, topic.bodies)) {
    return ResultStatus(UNKNOWN, msg::kParseFailed);
  }
  out.push_back(std::move(topic));
  return status;
}

ResultStatus HqHistoryApi::getHistoryQuotes(const std::string& code, const std::string& type,
                                            const UtcTimePeriod& period, int32_t count,
                                            std::string& body, int32_t timeoutMsec) const {
  if (count < 0) {
    count = 0;
  }
  if (period.begin > period.end) {
    return ResultStatus();
  }
  Poco::URI uri;
  uri.setPath("/QryCodeType");
  uri.addQueryParameter("types", type);
  uri.addQueryParameter("codes", code);
  uri.addQueryParameter("count", std::to_string(count));
  uri.addQueryParameter("beginTime", std::to_string(period.begin));
  uri.addQueryParameter("endTime", std::to_string(period.end));
  HeaderMap headers = genHeader(timeoutMsec, std::string());

  waitServerMsec();
  HeaderMap rspHeaders;
  ResultStatus status = getRequestRspHeader(uri, headers, kTries, body, rspHeaders);
  if (!status.ok()) {
    status.msg =
        msg::kHistoryFailed + uri.getPathAndQuery() + ",type=" + type + ",ret=" + status.msg;
    ORVEX_LOG_DEBUG(logger, status.msg);
  }
  return status;
}

ResultStatus HqHistoryApi::getMultiByPage(const PageReq& req, PageResponse& rsp, std::string& body,
                                          int32_t timeoutMsec) const {
  Poco::URI uri;
  uri.setPath("/QryPageTgtDetailV2");
  uri.addQueryParameter("type", req.type);
  if (!req.targets.empty()) {
    uri.addQueryParameter("tgt", pageTargets(req.targets));
  }
  if (req.beginTime > 0) {
    uri.addQueryParameter("beginTime", std::to_string(req.beginTime));
  }
  uri.addQueryParameter("endTime", std::to_string(req.endTime));
  if (req.beginMtm > 0) {
    uri.addQueryParameter("beginm", std::to_string(req.beginMtm));
  }
  uri.addQueryParameter("endm", std::to_string(req.endMtm));
  uri.addQueryParameter("datamtm", std::to_string(req.dataMtm));
  uri.addQueryParameter("page", std::to_string(req.page));
  HeaderMap headers = genHeader(timeoutMsec, std::string());

  waitServerMsec();
  HeaderMap rspHeaders;
  ResultStatus status = getRequestRspHeader(uri, headers, kTries, body, rspHeaders);
  readPageAnswer(rspHeaders, rsp);
  if (status.ok()) {
    return status;
  }
  const std::string pathAndQuery = uri.getPathAndQuery();
  ORVEX_LOG_DEBUG(
      logger, msg::kPageFailed << pathAndQuery << ",type=" << req.type << ",ret=" << status.msg);
  status.msg = msg::kPageFailed + pathAndQuery + ",type=" + req.type;
  return status;
}

}  // namespace orvex
