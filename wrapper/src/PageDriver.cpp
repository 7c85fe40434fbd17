// The page driver: asks the paged detail query for one page after another until the service
// marks the last page, carrying the marks of page 0 through the whole run.
#include <log4cxx/logger.h>

#include <limits>

#include "marketdata/HistoryWrapper.h"
#include "orvex/HqHistoryApi.h"
#include "orvex/Log.h"
#include "orvex/Timestamp.h"

namespace marketdata {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(orvex::kLoggerName);

// The request's own range selects by modification time; the record-time range stays open.
orvex::PageReq pageTemplate(const orvex::TopicReq& req) {
  orvex::PageReq page;
  page.targets = req.targets;
  page.type = req.key;
  page.beginTime = 0;
  page.endTime = std::numeric_limits<int64_t>::max();
  page.beginMtm = req.beginTime;
  page.endMtm = req.endTime;
  return page;
}

int64_t nowMs() { return orvex::Timestamp::now(0).toUtcMsEponch(); }

}  // namespace

orvex::ResultStatus HistoryWrapper::reqDataByPage(const orvex::TopicReq& req, int32_t requestId,
                                                  const HistoryDataCallback& callback,
                                                  int32_t maxSteps, bool& cancel) const {
  ORVEX_LOG_DEBUG(logger, "reqDataByPage begin,requestId=" << requestId << "," << req);
  orvex::ResultStatus ret;
  const orvex::PageReq pageReqTemplate = pageTemplate(req);
  int32_t nextPage = 0;
  int64_t relationMtm = 0;
  int64_t nameMaxMtm = 0;

  for (int32_t step = 0; step < maxSteps && !orvex::readCancelFlag(cancel); ++step) {
    orvex::PageReq pageReq = pageReqTemplate;
    pageReq.page = nextPage;
    pageReq.dataMtm = relationMtm;
    std::vector<orvex::CloudTopic> rsp;
    orvex::PageResponse pr;
    const int64_t startMs = nowMs();
    ret = historyApi->getDataByPage(pageReq, pr, rsp);
    if (ret.code == orvex::OK) {
      if (pageReq.page == 0) {
        relationMtm = pr.relationMtm;
        nameMaxMtm = pr.nameMaxMtm;
      }
      nextPage = pr.page;
    }
    ORVEX_LOG_DEBUG(logger, "reqDataByPage rsp,requestId=" << requestId << "," << ret << "," << pr
                                                           << ",size=" << rsp.size()
                                                           << ",costMs=" << (nowMs() - startMs));
    callback(nameMaxMtm, rsp, ret, pr.isLast);

    if (pr.isLast || ret.code != orvex::OK) break;
    if (orvex::readCancelFlag(cancel)) {
      ORVEX_LOG_DEBUG(logger, "reqDataByPage cancel,requestId=" << requestId << ret);
      break;
    }
  }

  ORVEX_LOG_DEBUG(logger, "reqDataByPage end,requestId=" << requestId << "," << ret);
  return ret;
}

}  // namespace marketdata
