// The command line's IHistorySpi: hands each delivered batch to the record sink and notes the
// batches that end a request. A batch's status is not printed here: the request's result, which
// reqData returns, carries the failure.
//
// Thread-safe: batches may arrive on several worker-pool threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "RecordSink.h"
#include "orvex/IHistorySpi.h"

namespace orvex {
namespace cli {

class PrintingSpi : public IHistorySpi {
 public:
  // `sink` must outlive every delivery.
  explicit PrintingSpi(RecordSink& sink) : sink_(sink) {}

  void onReqData(int32_t requestId, int64_t mtmValue, const std::vector<CloudTopic>& topics,
                 const ResultStatus& status, bool isLast) override;

  // Batches delivered with isLast set, so far.
  uint64_t lastBatches() const { return lastBatches_.load(); }

 private:
  RecordSink& sink_;
  std::atomic<uint64_t> lastBatches_{0};
};

}  // namespace cli
}  // namespace orvex
