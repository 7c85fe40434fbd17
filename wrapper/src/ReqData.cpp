// The host's asynchronous request: runs a driver on the calling thread and queues every batch
// for the host's IHistorySpi on the worker pool of the request's delivery key.
#include <memory>

#include "marketdata/HistoryWrapper.h"
#include "marketdata/WrapperReqDataTask.h"

namespace marketdata {

namespace {

// Largest number of service calls one request may make.
constexpr int32_t kMaxRequestSteps = 32767;

// First target, "@", topic key: every batch of one request goes to the same pool.
std::string deliveryKeyOf(const orvex::TopicReq& req) {
  std::string key = req.targets.empty() ? std::string() : req.targets.front();
  key += '@';
  key += req.key;
  return key;
}

}  // namespace

orvex::ResultStatus HistoryWrapper::reqData(const orvex::TopicReq& req, orvex::IHistorySpi* spi,
                                            int32_t requestId, bool& cancel) {
  if (spi == nullptr) {
    return orvex::ResultStatus(orvex::INVALID_PARAM, "reqData: spi is null");
  }
  const std::string deliveryKey = deliveryKeyOf(req);
  // Runs synchronously on this thread, so the references it holds outlive every call.
  const HistoryDataCallback deliver = [this, &deliveryKey, requestId, spi](
                                          int64_t mtmValue,
                                          const std::vector<orvex::CloudTopic>& topics,
                                          const orvex::ResultStatus& status, bool isLast) {
    std::shared_ptr<orvex::IQuoteTask> task = std::make_shared<orvex::WrapperReqDataTask>(
        isLast, requestId, mtmValue, topics, status, spi);
    pushTask(deliveryKey, task);
  };
  if ((req.flags & orvex::ByModifyTime) != 0) {
    return reqDataByPage(req, requestId, deliver, kMaxRequestSteps, cancel);
  }
  return reqDataByRange(req, requestId, deliver, kMaxRequestSteps, cancel);
}

}  // namespace marketdata
