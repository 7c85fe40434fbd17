// A host callback for benchmarks: counts what one request delivers and checks that nothing is
// lost, repeated or out of order, optionally taking a fixed time per batch to play a host that
// is slower than the service.
//
// onReqData runs on a worker-pool thread; the other operations on the host's thread. Safe for
// that use; reset() must not overlap a request.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "orvex/IHistorySpi.h"

namespace orvex {
namespace bench {

class CountingSpi : public IHistorySpi {
 public:
  // How the batches of one request follow each other in time: the range path delivers the
  // newest block first, the page path the oldest.
  enum class Order { kNewestFirst, kOldestFirst };

  struct Tally {
    uint64_t records = 0;
    uint64_t batches = 0;
    uint64_t failedBatches = 0;   // status other than OK
    uint64_t foreignBatches = 0;  // another request's number
    uint64_t misplaced = 0;       // batches that overlap or precede the one before
    bool lastSeen = false;
    std::chrono::steady_clock::time_point lastAt;  // when the batch with isLast arrived
  };

  explicit CountingSpi(std::chrono::microseconds delayPerBatch = std::chrono::microseconds(0));

  void onReqData(int32_t requestId, int64_t mtmValue, const std::vector<CloudTopic>& topics,
                 const ResultStatus& status, bool isLast) override;

  // Forgets the previous request; the next must carry `requestId` and arrive in `order`.
  void reset(int32_t requestId, Order order);
  // Waits for the batch with isLast; false when it did not come within `timeout`.
  bool waitLast(std::chrono::milliseconds timeout);
  Tally tally() const;

  CountingSpi(const CountingSpi&) = delete;
  CountingSpi& operator=(const CountingSpi&) = delete;

 private:
  void checkOrder(const std::vector<CloudTopic>& topics);

  const std::chrono::microseconds delay_;
  mutable std::mutex mutex_;
  std::condition_variable lastArrived_;
  int32_t requestId_ = 0;
  Order order_ = Order::kNewestFirst;
  bool anyRecord_ = false;
  int64_t edgeTime_ = 0;  // the boundary the next batch must stay beyond
  Tally tally_;
};

}  // namespace bench
}  // namespace orvex
