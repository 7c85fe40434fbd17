// The host's callback interface for asynchronous history requests.
//
// The plug-in calls onReqData on a worker-pool thread, never concurrently for the batches of one
// request, and never deletes the object.
//
// From inside onReqData the host may call release, init again, or delete the IHistoryApi object,
// also in the callback of the batch with isLast while its reqData is still returning on the
// host's thread. The running delivery finishes; the pool that ran it is stopped (and freed, for
// init or deletion) after it returns; the other pools deliver what they hold. Such a call does
// not wait for the pools. A host that calls release or deletes the object from a thread that its own onReqData
// blocks (waits on) deadlocks by its own doing: release waits for every queued delivery.
// An exception thrown by onReqData is logged by the plug-in and goes no further; the next batch
// is still delivered.
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
