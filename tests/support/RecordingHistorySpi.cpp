#include "RecordingHistorySpi.h"

#include <algorithm>
#include <utility>

namespace orvex {
namespace test {

size_t Delivery::bodyCount() const {
  size_t n = 0;
  for (const CloudTopic& topic : topics) n += topic.bodies.size();
  return n;
}

void RecordingHistorySpi::onReqData(int32_t requestId, int64_t mtmValue,
                                    const std::vector<CloudTopic>& topics,
                                    const ResultStatus& status, bool isLast) {
  const Delivery delivery{std::this_thread::get_id(), requestId, mtmValue, topics, status, isLast};
  Observer observer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    byRequest_[requestId].push_back(delivery);
    ++count_;
    observer = observer_;
    // Under the lock: a waiter that wakes may destroy this object as soon as it is released.
    changed_.notify_all();
  }
  if (observer) observer(delivery);
}

std::vector<Delivery> RecordingHistorySpi::deliveries(int32_t requestId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = byRequest_.find(requestId);
  return it == byRequest_.end() ? std::vector<Delivery>() : it->second;
}

size_t RecordingHistorySpi::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

bool RecordingHistorySpi::waitForLast(int32_t requestId, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    auto it = byRequest_.find(requestId);
    return it != byRequest_.end() &&
           std::any_of(it->second.begin(), it->second.end(), [](auto& d) { return d.isLast; });
  });
}

void RecordingHistorySpi::setObserver(Observer observer) {
  std::lock_guard<std::mutex> lock(mutex_);
  observer_ = std::move(observer);
}

}  // namespace test
}  // namespace orvex
