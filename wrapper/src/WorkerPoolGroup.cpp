#include "marketdata/WorkerPoolGroup.h"

#include <log4cxx/logger.h>

#include <functional>
#include <thread>
#include <utility>

#include "ExceptionBarrier.h"
#include "orvex/Log.h"
#include "orvex/Md5Utils.h"

namespace marketdata {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(orvex::kLoggerName);

// The group whose job runs on this thread, if any.
thread_local const WorkerPoolGroup* tRunningGroup = nullptr;

// Marks the calling thread as running a job of `group` for the scope's lifetime.
class RunningScope {
 public:
  explicit RunningScope(const WorkerPoolGroup* group) : outer_(tRunningGroup) {
    tRunningGroup = group;
  }
  ~RunningScope() { tRunningGroup = outer_; }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;

 private:
  const WorkerPoolGroup* outer_;
};

// |hash| as an unsigned value, so that the most negative hash has a magnitude too.
uint64_t magnitude(int64_t hash) {
  const uint64_t bits = static_cast<uint64_t>(hash);
  return hash < 0 ? (0 - bits) : bits;
}

}  // namespace

WorkerPoolGroup::WorkerPoolGroup(int32_t count) : poolCount(count) {
  if (count > 0) pools.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    pools.emplace_back(orvex::ThreadPoolBase::create());
  }
}

WorkerPoolGroup::~WorkerPoolGroup() {
  stopAll();
  for (auto& pool : pools) pool.reset();  // index order
  pools.clear();
}

orvex::ResultStatus WorkerPoolGroup::startAll(const orvex::ThreadPoolParam& param) const {
  for (size_t i = 0; i < pools.size(); ++i) {
    pools[i]->setParam(param);
    orvex::ResultStatus status = pools[i]->start();
    if (!status.ok()) {
      status.msg = "pool " + std::to_string(i) + " did not start: " + status.msg;
      return status;
    }
  }
  return orvex::ResultStatus();
}

orvex::ResultStatus WorkerPoolGroup::dispatch(
    const std::string& key, const std::shared_ptr<orvex::IQuoteTask>& task) const {
  if (poolCount <= 0 || pools.empty() || !task) {
    return orvex::ResultStatus(orvex::INVALID_PARAM, "no pool or no task");
  }
  const uint64_t index = magnitude(orvex::Md5Utils::hash(key)) % static_cast<uint64_t>(poolCount);
  orvex::ThreadPoolBase* pool = pools[static_cast<size_t>(index)].get();
  // Only the address is kept: a job of the group runs while the group lives (retire and the
  // destructor wait for the jobs).
  std::function<void()> job = [task, this]() {
    RunningScope running(this);
    // What the host's callback throws stays here: it would end the host's pool thread.
    ExceptionBarrier::run("delivery", [&task] {
      task->run();
      return orvex::ResultStatus();
    });
  };
  return pool->submit(std::move(job));
}

void WorkerPoolGroup::stopAll() const {
  for (const auto& pool : pools) {
    if (pool) pool->stop();
  }
}

bool WorkerPoolGroup::runsOnThisThread() const { return tRunningGroup == this; }

void WorkerPoolGroup::retire(std::shared_ptr<const WorkerPoolGroup> group) {
  if (!group) return;
  try {
    std::thread([group]() mutable {
      group->stopAll();
      group.reset();
    }).detach();
  } catch (const std::exception& e) {
    // Without a thread the group cannot be freed safely from here: keeping it is the lesser harm.
    ORVEX_LOG_ERROR(logger, "worker pools kept, no thread to stop them: " << e.what());
    new std::shared_ptr<const WorkerPoolGroup>(std::move(group));
  }
}

}  // namespace marketdata
