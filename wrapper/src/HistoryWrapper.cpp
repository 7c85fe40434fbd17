// Lifecycle of the wrapper: construction, worker pools, release and destruction.
#include "marketdata/HistoryWrapper.h"

#include <log4cxx/logger.h>

#include "marketdata/WorkerPoolGroup.h"
#include "orvex/HqHistoryApi.h"
#include "orvex/Log.h"

namespace marketdata {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(orvex::kLoggerName);

// Handed to every pool: one thread keeps each pool's jobs in submission order.
orvex::ThreadPoolParam poolParam() {
  orvex::ThreadPoolParam param;
  param.threadCount = 1;
  param.queueCapacity = 60000;
  return param;
}

}  // namespace

HistoryWrapper::HistoryWrapper() : historyApi(new orvex::HqHistoryApi()) {}

HistoryWrapper::~HistoryWrapper() {
  release();
  historyApi.reset();
  poolGroup.reset();  // stops the pools once more, then deletes them in index order
}

orvex::ResultStatus HistoryWrapper::init(int32_t threadNum) {
  if (threadNum < 1) {
    return orvex::ResultStatus(orvex::INVALID_PARAM, "init: threadNum must be at least 1, got " +
                                                         std::to_string(threadNum));
  }
  // A second init replaces the pools; the old ones first run what they hold.
  poolGroup.reset();
  poolGroup.reset(new WorkerPoolGroup(threadNum));
  const orvex::ThreadPoolParam param = poolParam();
  for (const auto& pool : poolGroup->pools) {
    pool->setParam(param);
    pool->start();
  }
  ORVEX_LOG_DEBUG(logger, "HistoryWrapper init,threadNum=" << threadNum);
  return orvex::ResultStatus();
}

void HistoryWrapper::release() {
  ORVEX_LOG_TRACE(logger, "HistoryWrapper::release start");
  if (poolGroup) poolGroup->stopAll();
  ORVEX_LOG_TRACE(logger, "HistoryWrapper::release end");
}

const orvex::HqHistoryApi* HistoryWrapper::getHqHistoryApi() const { return historyApi.get(); }

void HistoryWrapper::pushTask(const std::string& key,
                              const std::shared_ptr<orvex::IQuoteTask>& task) const {
  if (!poolGroup) return;  // before init: the delivery is dropped
  poolGroup->dispatch(key, task);
}

}  // namespace marketdata
