// The host's asynchronous request: runs a driver on the calling thread and queues every batch
// for the host's IHistorySpi on the worker pool of the request's delivery key.
//
// Once the batch with isLast is queued the wrapper is not touched again: the host may delete it
// in that batch's callback while this call is still returning.
#include <log4cxx/logger.h>

#include <memory>

#include "ExceptionBarrier.h"
#include "marketdata/HistoryWrapper.h"
#include "marketdata/WrapperReqDataTask.h"
#include "orvex/Log.h"

namespace marketdata {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(orvex::kLoggerName);

// Largest number of service calls one request may make.
constexpr int32_t kMaxRequestSteps = 32767;

// First target, "@", topic key: every batch of one request goes to the same pool.
std::string deliveryKeyOf(const orvex::TopicReq& req) {
  std::string key = req.targets.empty() ? std::string() : req.targets.front();
  key += '@';
  key += req.key;
  return key;
}

size_t recordCount(const std::vector<orvex::CloudTopic>& topics) {
  size_t count = 0;
  for (const orvex::CloudTopic& topic : topics) count += topic.bodies.size();
  return count;
}

}  // namespace

orvex::ResultStatus HistoryWrapper::reqData(const orvex::TopicReq& req, orvex::IHistorySpi* spi,
                                            int32_t requestId, bool& cancel) {
  if (spi == nullptr) {
    return orvex::ResultStatus(orvex::INVALID_PARAM, "reqData: spi is null");
  }
  bool lastQueued = false;
  bool returned = false;
  const orvex::ResultStatus status = ExceptionBarrier::run("reqData", [&] {
    orvex::ResultStatus fetched = fetch(req, spi, requestId, cancel, lastQueued);
    returned = true;
    return fetched;
  });
  if (!returned && !lastQueued) {
    // An exception ended the request: the host still learns that it is over, and why.
    ExceptionBarrier::run("reqData last batch", [&] {
      deliver(deliveryKeyOf(req), spi, requestId, 0, {}, status, true);
      return orvex::ResultStatus();
    });
  }
  return status;
}

orvex::ResultStatus HistoryWrapper::fetch(const orvex::TopicReq& req, orvex::IHistorySpi* spi,
                                          int32_t requestId, bool& cancel, bool& lastQueued) const {
  const std::string deliveryKey = deliveryKeyOf(req);
  // Runs synchronously on this thread, so the references it holds outlive every call.
  const HistoryDataCallback queue = [this, &deliveryKey, &lastQueued, requestId, spi](
                                        int64_t mtmValue,
                                        const std::vector<orvex::CloudTopic>& topics,
                                        const orvex::ResultStatus& status, bool isLast) {
    deliver(deliveryKey, spi, requestId, mtmValue, topics, status, isLast);
    if (isLast) lastQueued = true;
  };
  if ((req.flags & orvex::ByModifyTime) != 0) {
    return reqDataByPage(req, requestId, queue, kMaxRequestSteps, cancel);
  }
  return reqDataByRange(req, requestId, queue, kMaxRequestSteps, cancel);
}

void HistoryWrapper::deliver(const std::string& key, orvex::IHistorySpi* spi, int32_t requestId,
                             int64_t mtmValue, const std::vector<orvex::CloudTopic>& topics,
                             const orvex::ResultStatus& status, bool isLast) const {
  std::shared_ptr<orvex::IQuoteTask> task =
      std::make_shared<orvex::WrapperReqDataTask>(isLast, requestId, mtmValue, topics, status, spi);
  const orvex::ResultStatus queued = pushTask(key, task);
  if (!queued.ok()) {
    ORVEX_LOG_ERROR(logger, "delivery lost,requestId=" << requestId
                                                       << ",records=" << recordCount(topics)
                                                       << ",isLast=" << isLast << "," << queued);
  }
}

}  // namespace marketdata
