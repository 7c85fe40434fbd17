#include "CountingSpi.h"

#include <thread>

namespace orvex {
namespace bench {

CountingSpi::CountingSpi(std::chrono::microseconds delayPerBatch) : delay_(delayPerBatch) {}

void CountingSpi::onReqData(int32_t requestId, int64_t /*mtmValue*/,
                            const std::vector<CloudTopic>& topics, const ResultStatus& status,
                            bool isLast) {
  if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
  std::lock_guard<std::mutex> lock(mutex_);
  ++tally_.batches;
  if (requestId != requestId_) ++tally_.foreignBatches;
  if (!status.ok()) ++tally_.failedBatches;
  for (const CloudTopic& topic : topics) tally_.records += topic.bodies.size();
  checkOrder(topics);
  if (isLast) {
    tally_.lastSeen = true;
    tally_.lastAt = std::chrono::steady_clock::now();
    lastArrived_.notify_all();
  }
}

// Records inside a batch ascend; consecutive batches must not overlap in the request's order.
void CountingSpi::checkOrder(const std::vector<CloudTopic>& topics) {
  for (const CloudTopic& topic : topics) {
    if (topic.bodies.empty()) continue;
    const int64_t first = topic.bodies.front().time;
    const int64_t last = topic.bodies.back().time;
    if (order_ == Order::kNewestFirst) {
      if (anyRecord_ && last >= edgeTime_) ++tally_.misplaced;
      edgeTime_ = first;
    } else {
      if (anyRecord_ && first <= edgeTime_) ++tally_.misplaced;
      edgeTime_ = last;
    }
    anyRecord_ = true;
  }
}

void CountingSpi::reset(int32_t requestId, Order order) {
  std::lock_guard<std::mutex> lock(mutex_);
  requestId_ = requestId;
  order_ = order;
  anyRecord_ = false;
  edgeTime_ = 0;
  tally_ = Tally();
}

bool CountingSpi::waitLast(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return lastArrived_.wait_for(lock, timeout, [this] { return tally_.lastSeen; });
}

CountingSpi::Tally CountingSpi::tally() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tally_;
}

}  // namespace bench
}  // namespace orvex
