#include "PartitionFetcher.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <tuple>

#include "DisplayText.h"
#include "orvex/IHistorySpi.h"

namespace orvex {
namespace cli {
namespace {

// Collects the batches of one request; the final batch (isLast) may arrive after reqData has
// returned, so the caller waits for it.
class Collector : public IHistorySpi {
 public:
  void onReqData(int32_t, int64_t, const std::vector<CloudTopic>& topics, const ResultStatus&,
                 bool isLast) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (isLast) {
      done_ = true;
      changed_.notify_all();
      return;
    }
    ++steps_;
    if (topics.empty()) return;
    const std::vector<TopicBody>& bodies = topics.front().bodies;
    if (bodies.size() == PartitionFetcher::kStepSize) fullStepTimes_.insert(bodies.front().time);
    records_.insert(records_.end(), bodies.begin(), bodies.end());
  }

  void waitForLast() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
  }

  std::vector<TopicBody> records_;
  std::set<int64_t> fullStepTimes_;
  uint64_t steps_ = 0;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool done_ = false;
};

uint64_t valueBits(double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

bool before(const TopicBody& a, const TopicBody& b) {
  return std::forward_as_tuple(a.time, valueBits(a.value), a.data) <
         std::forward_as_tuple(b.time, valueBits(b.value), b.data);
}

bool same(const TopicBody& a, const TopicBody& b) {
  return a.time == b.time && valueBits(a.value) == valueBits(b.value) && a.data == b.data;
}

// Sorts, removes exact duplicates and records outside [begin, end]; counts what went.
void normalise(std::vector<TopicBody>& records, const Partition& p, PartitionStats* stats) {
  const auto outside = [&p](const TopicBody& r) { return r.time < p.begin || r.time > p.end; };
  const size_t total = records.size();
  records.erase(std::remove_if(records.begin(), records.end(), outside), records.end());
  const size_t inside = records.size();
  std::sort(records.begin(), records.end(), before);
  records.erase(std::unique(records.begin(), records.end(), same), records.end());
  if (stats != nullptr) {
    stats->dropped = total - inside;
    stats->duplicates = inside - records.size();
  }
}

std::string statusText(const ResultStatus& status) {
  return std::string(codeName(status.code)) + "@" + messageText(status.msg);
}

}  // namespace

PartitionFetcher::Result PartitionFetcher::fetch(const Partition& partition, int32_t requestId) {
  Result result;
  TopicReq req;
  req.key = partition.key;
  req.targets = {partition.target};
  req.beginTime = partition.begin;
  req.endTime = partition.end;
  req.maxCount = INT32_MAX;  // no day can reach it: the walk ends at the partition's begin
  Collector walk;
  result.status = api_.reqData(req, &walk, requestId, cancel_);
  walk.waitForLast();
  result.stats.pluginStatus = statusText(result.status);
  result.stats.requests = walk.steps_;
  if (!result.status.ok()) return result;
  result.records = std::move(walk.records_);
  normalise(result.records, partition, &result.stats);
  const size_t walked = result.records.size();

  for (const int64_t t : walk.fullStepTimes_) {
    if (readCancelFlag(cancel_)) break;
    TopicReq again = req;
    again.beginTime = again.endTime = t;
    Collector repair;
    const ResultStatus status = api_.reqData(again, &repair, requestId, cancel_);
    repair.waitForLast();
    result.stats.repairRequests += repair.steps_;
    if (!status.ok()) {
      result.status = status;
      return result;
    }
    if (repair.records_.size() >= kStepSize) ++result.stats.unrecovered;
    result.records.insert(result.records.end(), repair.records_.begin(), repair.records_.end());
  }
  normalise(result.records, partition, nullptr);
  result.stats.repaired = result.records.size() - walked;
  result.stats.requests += result.stats.repairRequests;
  return result;
}

}  // namespace cli
}  // namespace orvex
