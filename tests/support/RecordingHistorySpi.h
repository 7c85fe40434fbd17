// An IHistorySpi that records every delivery, for tests.
//
// Thread-safe: the plug-in delivers on its worker-pool threads while a test waits and reads.
// Deliveries are kept per request number, in arrival order, with the thread that delivered each.
// The object must outlive every delivery: destroy (or release) the wrapper first.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "orvex/IHistorySpi.h"
#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {
namespace test {

struct Delivery {
  std::thread::id thread;
  int32_t requestId = 0;
  int64_t mtmValue = 0;
  std::vector<CloudTopic> topics;
  ResultStatus status;
  bool isLast = false;

  // Bodies of all topics of the batch, in order.
  size_t bodyCount() const;
};

class RecordingHistorySpi : public IHistorySpi {
 public:
  // Called after each delivery is recorded, on the delivering thread. Lets a test react to a
  // batch (for example set a cancel flag from the pool's thread).
  using Observer = std::function<void(const Delivery&)>;

  void onReqData(int32_t requestId, int64_t mtmValue, const std::vector<CloudTopic>& topics,
                 const ResultStatus& status, bool isLast) override;

  // Deliveries of `requestId`, in arrival order (empty when none).
  std::vector<Delivery> deliveries(int32_t requestId) const;
  // Deliveries of every request.
  size_t count() const;

  // True once a delivery with isLast arrived for `requestId`; false at the time-out.
  bool waitForLast(int32_t requestId, std::chrono::milliseconds timeout) const;

  void setObserver(Observer observer);

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<int32_t, std::vector<Delivery>> byRequest_;
  size_t count_ = 0;
  Observer observer_;
};

}  // namespace test
}  // namespace orvex
