// Fetches the records of one download partition through IHistoryApi::reqData.
//
// The range walk skips the records that share a full step's earliest time (the next step ends
// just before it), so each such time t is asked again as [t, t], on a second thread while the
// walk goes on, and the answers are merged. More records at one time than one step brings cannot be
// recovered; they are counted. Records come back ascending by time (then value and data), exact
// duplicates removed, those outside the partition's span dropped.
//
// A failed fetch keeps what arrived: the next fetch of the same partition walks on from where the
// walk stopped and asks again only the boundary times not yet repaired, so a partition completes
// across attempts even when no single attempt would get through.
//
// One fetcher per partition and thread; several may share one IHistoryApi. A fetch runs two
// requests at once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
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

  // Fetches `partition` (always the same one), going on from where the last failed fetch stopped.
  Result fetch(const Partition& partition, int32_t requestId);
  // Whether the last fetch brought records or repaired times that the next one keeps.
  bool progressed() const { return progressed_; }

  static constexpr size_t kStepSize = 1000;

 private:
  struct Repaired {
    ResultStatus status;
    std::map<int64_t, std::vector<TopicBody>> byTime;
    std::vector<int64_t> undone;  // not asked, or failed
    uint64_t requests = 0;
  };
  // Asks each time of `times` not repaired before, until the queue is closed and empty.
  Repaired repair(const TopicReq& req, int32_t requestId, RepairQueue& times) const;
  // Keeps what a failed or finished attempt brought.
  void keep(std::vector<TopicBody> walked, bool walkOk, Repaired repaired);
  Result finish(const Partition& partition, const ResultStatus& walkStatus);

  IHistoryApi& api_;
  bool& cancel_;
  // Kept across attempts.
  bool walkDone_ = false;           // only repairs are left
  std::optional<int64_t> walkEnd_;  // where the next walk ends; the span's end at first
  std::vector<TopicBody> walked_;   // ascending, all after walkEnd_
  std::map<int64_t, std::vector<TopicBody>> repairedAt_;  // complete answers of [t, t]
  std::vector<int64_t> unrepaired_;
  uint64_t walkSteps_ = 0;
  uint64_t repairRequests_ = 0;
  bool progressed_ = false;
};

}  // namespace cli
}  // namespace orvex
