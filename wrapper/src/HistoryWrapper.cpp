// Lifecycle of the wrapper: construction, worker pools, release and destruction.
//
// The host may release, init again or delete the wrapper from inside a delivery, on a pool
// thread. A pool is never stopped and deleted by its own job: such a call hands the group to
// WorkerPoolGroup::retire, which lets it go on a thread of its own after the job has returned.
#include "marketdata/HistoryWrapper.h"

#include <log4cxx/logger.h>

#include <utility>

#include "ExceptionBarrier.h"
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

// Drops a group the wrapper no longer holds; from one of its own jobs it is retired instead.
void letGo(std::shared_ptr<WorkerPoolGroup> group) {
  if (group && group->runsOnThisThread()) WorkerPoolGroup::retire(std::move(group));
}

}  // namespace

HistoryWrapper::HistoryWrapper() : historyApi(new orvex::HqHistoryApi()) {}

HistoryWrapper::~HistoryWrapper() {
  release();
  ExceptionBarrier::run("~HistoryWrapper", [this] {
    historyApi.reset();
    // Stops the pools once more, then deletes them in index order.
    letGo(std::atomic_exchange(&poolGroup, std::shared_ptr<WorkerPoolGroup>()));
    return orvex::ResultStatus();
  });
}

orvex::ResultStatus HistoryWrapper::init(int32_t threadNum) {
  return ExceptionBarrier::run("init", [this, threadNum] { return makePools(threadNum); });
}

orvex::ResultStatus HistoryWrapper::makePools(int32_t threadNum) {
  if (threadNum < 1 || threadNum > kMaxThreadNum) {
    return orvex::ResultStatus(orvex::INVALID_PARAM, "init: threadNum must be 1 to " +
                                                         std::to_string(kMaxThreadNum) + ", got " +
                                                         std::to_string(threadNum));
  }
  auto group = std::make_shared<WorkerPoolGroup>(threadNum);
  orvex::ResultStatus started = group->startAll(poolParam());
  if (!started.ok()) {
    started.msg = "init: " + started.msg;
    ORVEX_LOG_ERROR(logger, "HistoryWrapper init failed,threadNum=" << threadNum << "," << started);
    return started;  // the new pools go with `group`; the earlier ones stay
  }
  letGo(std::atomic_exchange(&poolGroup, std::move(group)));
  ORVEX_LOG_DEBUG(logger, "HistoryWrapper init,threadNum=" << threadNum);
  return orvex::ResultStatus();
}

void HistoryWrapper::release() {
  ExceptionBarrier::run("release", [this] {
    stopPools();
    return orvex::ResultStatus();
  });
}

void HistoryWrapper::stopPools() const {
  ORVEX_LOG_TRACE(logger, "HistoryWrapper::release start");
  const std::shared_ptr<WorkerPoolGroup> group = std::atomic_load(&poolGroup);
  if (group && group->runsOnThisThread()) {
    WorkerPoolGroup::retire(group);  // waiting here would wait for this very delivery
  } else if (group) {
    group->stopAll();
  }
  ORVEX_LOG_TRACE(logger, "HistoryWrapper::release end");
}

const orvex::HqHistoryApi* HistoryWrapper::getHqHistoryApi() const { return historyApi.get(); }

orvex::ResultStatus HistoryWrapper::pushTask(const std::string& key,
                                             const std::shared_ptr<orvex::IQuoteTask>& task) const {
  // The reference keeps the group alive through submit even if the job it queues drops the
  // wrapper at once.
  const std::shared_ptr<WorkerPoolGroup> group = std::atomic_load(&poolGroup);
  if (!group) return orvex::ResultStatus();  // before init: the delivery is dropped
  return group->dispatch(key, task);
}

}  // namespace marketdata
