// Fetches the records of one download partition through IHistoryApi::reqData.
//
// The range walk skips the records that share a full step's earliest time (the next step ends
// just before it), so each such time t is asked again as [t, t], on a second thread while the
// walk goes on, and the answers are merged. More records at one time than one step brings cannot be
// recovered; they are counted. Records come back ascending by time (then value and data), exact
// duplicates removed, those outside the partition's span dropped.
//
// One fetcher per thread; several may share one IHistoryApi. A fetch runs two requests at once.
#pragma once

#include <vector>

#include "PartitionFile.h"
#include "PartitionPlan.h"
#include "orvex/IHistoryApi.h"

namespace orvex {
namespace cli {

class RepairQueue;

class PartitionFetcher {
 public:
  struct Result {
    ResultStatus status;  // the first failure, or the walk's final status
    std::vector<TopicBody> records;
    PartitionStats stats;
  };

  // `cancel` is the requests' cancel flag; it must outlive the fetcher.
  PartitionFetcher(IHistoryApi& api, bool& cancel) : api_(api), cancel_(cancel) {}

  Result fetch(const Partition& partition, int32_t requestId);

  static constexpr size_t kStepSize = 1000;

 private:
  struct Repaired {
    ResultStatus status;
    std::vector<TopicBody> records;
    uint64_t requests = 0;
    uint64_t unrecovered = 0;
  };
  // Asks each time of `times` again until the queue is closed and empty.
  Repaired repair(const TopicReq& req, int32_t requestId, RepairQueue& times);

  IHistoryApi& api_;
  bool& cancel_;
};

}  // namespace cli
}  // namespace orvex
