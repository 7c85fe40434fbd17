// One pending delivery of a batch to the host's IHistorySpi. Holds its own copies of the batch
// and the status; run once by a worker pool.
#pragma once

#include <cstdint>
#include <vector>

#include "orvex/IHistorySpi.h"
#include "orvex/IQuoteTask.h"
#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {

class WrapperReqDataTask : public IQuoteTask {
 public:
  WrapperReqDataTask(bool isLast, int32_t requestId, int64_t mtmValue,
                     std::vector<CloudTopic> topics, ResultStatus status, IHistorySpi* spi);
  ~WrapperReqDataTask() override;

  // Calls spi->onReqData(requestId, mtmValue, topics, status, isLast).
  void run() override;

  bool isLast;
  int32_t requestId;
  int64_t mtmValue;
  std::vector<CloudTopic> topics;
  ResultStatus status;
  IHistorySpi* spi;  // not owned
};

}  // namespace orvex
