// The range driver: walks a target's time range backwards from its end in steps of at most
// 1000 records, handing every step's records to the callback as they arrive.
#include <log4cxx/logger.h>

#include <algorithm>

#include "marketdata/HistoryWrapper.h"
#include "orvex/DebugUtils.h"
#include "orvex/HqHistoryApi.h"
#include "orvex/Log.h"
#include "orvex/Messages.h"

namespace marketdata {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(orvex::kLoggerName);

constexpr int64_t kStepSize = 1000;

std::string stepTitle(int32_t requestId, int32_t reqSize, int32_t rspSize) {
  std::string title(orvex::msg::kRangeTitle);
  title += std::to_string(requestId);
  title += ",reqSize=";
  title += std::to_string(reqSize);
  title += ",rspSize=";
  title += std::to_string(rspSize);
  return title;
}

}  // namespace

orvex::ResultStatus HistoryWrapper::reqDataByRange(const orvex::TopicReq& req, int32_t requestId,
                                                   const HistoryDataCallback& callback,
                                                   int32_t maxSteps, bool& cancel) const {
  if (req.targets.size() != 1) {
    return orvex::ResultStatus(orvex::INVALID_PARAM, orvex::msg::kOnlyOneTarget);
  }
  ORVEX_LOG_DEBUG(logger, "reqDataByRange begin,requestId=" << requestId << "," << req);

  int64_t total = 0;  // wider than the count so that an oversized answer cannot overflow it
  orvex::ResultStatus last;
  // Only endTime and maxCount change from step to step.
  orvex::TopicReq stepReq;
  stepReq.key = req.key;
  stepReq.targets = req.targets;
  stepReq.beginTime = req.beginTime;
  stepReq.flags = req.flags;
  stepReq.endTime = req.endTime;

  for (int32_t step = 0; step < maxSteps && !orvex::readCancelFlag(cancel); ++step) {
    const int32_t count = static_cast<int32_t>(std::min(req.maxCount - total, kStepSize));
    stepReq.maxCount = count;
    std::vector<orvex::CloudTopic> rsp;
    last = historyApi->doGetQuote(stepReq, rsp);

    const bool empty = rsp.empty() || rsp.front().bodies.empty();
    const int32_t n = empty ? 0 : static_cast<int32_t>(rsp.front().bodies.size());
    orvex::UtcTimePeriod period;
    if (!empty) {
      period.begin = rsp.front().bodies.front().time;
      period.end = rsp.front().bodies.back().time;
    }
    orvex::DebugUtils::debugPrint(stepTitle(requestId, count, n), period);
    callback(0, rsp, last, false);

    if (last.code != orvex::OK || empty || n < count) break;
    const int64_t earliest = period.begin;
    total += n;
    if (total >= req.maxCount) break;
    if (earliest <= req.beginTime) break;  // also guards earliest - 1 below against overflow
    stepReq.endTime = earliest - 1;
  }

  callback(0, std::vector<orvex::CloudTopic>(), last, true);
  ORVEX_LOG_DEBUG(logger, "reqDataByRange end,requestId=" << requestId << "," << last);
  return last;
}

}  // namespace marketdata
