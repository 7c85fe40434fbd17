// The host's callback interface for asynchronous history requests.
//
// The plug-in calls onReqData on a worker-pool thread, never concurrently for the batches of one
// request, and never deletes the object.
#pragma once

#include <cstdint>
#include <vector>

#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {

class IHistorySpi {
 public:
  virtual ~IHistorySpi() = default;  // slot 0

  // One batch of request `requestId`. `mtmValue` is 0 on the range path and the first page's
  // nameMaxMtm on the page path; `isLast` marks the batch that ends the request.
  virtual void onReqData(int32_t requestId, int64_t mtmValue, const std::vector<CloudTopic>& topics,
                         const ResultStatus& status, bool isLast) = 0;  // slot 1
};

}  // namespace orvex
