// The command line's IHistorySpi: prints each delivered batch and counts what arrived. A batch's
// status is not printed here: the request's result, which reqData returns, carries the failure.
//
// Thread-safe: batches may arrive on several worker-pool threads at once; they are written one at
// a time, each batch whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "RecordWriter.h"
#include "orvex/IHistorySpi.h"

namespace orvex {
namespace cli {

class PrintingSpi : public IHistorySpi {
 public:
  // `writer` must outlive every delivery.
  explicit PrintingSpi(RecordWriter& writer) : writer_(writer) {}

  void onReqData(int32_t requestId, int64_t mtmValue, const std::vector<CloudTopic>& topics,
                 const ResultStatus& status, bool isLast) override;

  // Records and batches printed so far; readable from any thread while deliveries run.
  uint64_t records() const { return records_.load(); }
  uint64_t batches() const { return batches_.load(); }

 private:
  RecordWriter& writer_;
  std::mutex mutex_;  // one batch at a time through writer_
  std::atomic<uint64_t> records_{0};
  std::atomic<uint64_t> batches_{0};
};

}  // namespace cli
}  // namespace orvex
