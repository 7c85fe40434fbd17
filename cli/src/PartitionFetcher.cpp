#include "PartitionFetcher.h"

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>

#include "DisplayText.h"
#include "orvex/IHistorySpi.h"

namespace orvex {
namespace cli {
// The boundary times still to repair: filled by the walk's deliveries while a second thread
// asks them again, so that the repair costs little more time than the walk.
class RepairQueue {
 public:
  void push(int64_t time) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(time);
    changed_.notify_all();
  }
  // No more times will come.
  void close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  // The next time, or nothing once closed and empty.
  std::optional<int64_t> next() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return closed_ || !pending_.empty(); });
    if (pending_.empty()) return std::nullopt;
    const int64_t time = pending_.front();
    pending_.pop_front();
    return time;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<int64_t> pending_;
  bool closed_ = false;
};

namespace {

// Collects the batches of one request; the final batch (isLast) may arrive after reqData has
// returned, so the caller waits for it. Full steps' earliest times go to `repairs`, if given.
class Collector : public IHistorySpi {
 public:
  explicit Collector(RepairQueue* repairs = nullptr) : repairs_(repairs) {}

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
    if (bodies.size() == PartitionFetcher::kStepSize && repairs_ != nullptr) {
      repairs_->push(bodies.front().time);
    }
    blocks_.push_back(bodies);
    count_ += bodies.size();
  }

  // The records in ascending time: the walk brings the newest block first, each ascending, so
  // the blocks are joined last first and a sort has little left to do.
  std::vector<TopicBody> records() {
    std::vector<TopicBody> out;
    out.reserve(count_);
    for (auto block = blocks_.rbegin(); block != blocks_.rend(); ++block) {
      std::move(block->begin(), block->end(), std::back_inserter(out));
    }
    blocks_.clear();
    return out;
  }
  size_t count() const { return count_; }

  void waitForLast() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return done_; });
  }

  uint64_t steps_ = 0;

 private:
  std::vector<std::vector<TopicBody>> blocks_;
  size_t count_ = 0;
  RepairQueue* repairs_;
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

// Sorts, removes exact duplicates and records outside [begin, end]; counts what went. The first
// `sorted` records are usually in order already, and the rest few: they are merged in.
void normalise(std::vector<TopicBody>& records, size_t sorted, const Partition& p,
               PartitionStats* stats) {
  const auto mid = records.begin() + static_cast<std::ptrdiff_t>(sorted);
  if (!std::is_sorted(records.begin(), mid, before)) std::sort(records.begin(), mid, before);
  std::sort(mid, records.end(), before);
  std::inplace_merge(records.begin(), mid, records.end(), before);
  const size_t total = records.size();
  const auto first = std::lower_bound(records.begin(), records.end(), p.begin,
                                      [](const TopicBody& r, int64_t t) { return r.time < t; });
  const auto last = std::upper_bound(first, records.end(), p.end,
                                     [](int64_t t, const TopicBody& r) { return t < r.time; });
  records.erase(last, records.end());
  records.erase(records.begin(), first);
  const size_t inside = records.size();
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
  TopicReq req;
  req.key = partition.key;
  req.targets = {partition.target};
  req.beginTime = partition.begin;
  req.endTime = walkEnd_.value_or(partition.end);
  req.maxCount = INT32_MAX;  // no day can reach it: the walk ends at the partition's begin
  RepairQueue repairs;
  for (const int64_t t : unrepaired_) repairs.push(t);
  unrepaired_.clear();
  Repaired repaired;
  std::thread repairer([&] { repaired = repair(req, requestId, repairs); });
  Collector walk(&repairs);
  ResultStatus walkStatus;
  if (!walkDone_) {
    walkStatus = api_.reqData(req, &walk, requestId, cancel_);
    walk.waitForLast();
  }
  repairs.close();
  repairer.join();
  walkSteps_ += walk.steps_;
  const ResultStatus repairStatus = repaired.status;
  keep(walk.records(), walkStatus.ok(), std::move(repaired));
  Result result = finish(partition, walkStatus);
  if (result.status.ok()) result.status = repairStatus;
  return result;
}

void PartitionFetcher::keep(std::vector<TopicBody> walked, bool walkOk, Repaired repaired) {
  const size_t before = walked_.size() + repairedAt_.size();
  walkDone_ = walkOk;
  // Where the failed step would have ended. Its earliest time t lies after the partition's begin
  // (the walk ends at a step that reaches it), and the records at t are the repair's, as for
  // every full step.
  if (!walkOk && !walked.empty()) walkEnd_ = walked.front().time - 1;
  walked.insert(walked.end(), walked_.begin(), walked_.end());
  walked_ = std::move(walked);
  repairedAt_.merge(repaired.byTime);
  unrepaired_ = std::move(repaired.undone);
  repairRequests_ += repaired.requests;
  progressed_ = walked_.size() + repairedAt_.size() > before;
}

PartitionFetcher::Result PartitionFetcher::finish(const Partition& partition,
                                                  const ResultStatus& walkStatus) {
  Result result;
  result.status = walkStatus;
  result.stats.pluginStatus = statusText(walkStatus);
  if (!walkStatus.ok()) return result;
  std::vector<TopicBody> walkOnly = walked_;
  normalise(walkOnly, walkOnly.size(), partition, nullptr);
  // At a repaired time the repair's answer is the whole set; the walk's part of it goes, so that
  // records the source holds twice are counted as duplicates there too, not merged unseen.
  result.records = walked_;
  result.records.erase(
      std::remove_if(result.records.begin(), result.records.end(),
                     [this](const TopicBody& r) { return repairedAt_.count(r.time) != 0; }),
      result.records.end());
  const size_t sorted = result.records.size();
  for (const auto& entry : repairedAt_) {
    const std::vector<TopicBody>& records = entry.second;
    result.records.insert(result.records.end(), records.begin(), records.end());
    // A full answer at one time: more may be there than one step brings.
    if (records.size() >= kStepSize) ++result.stats.unrecovered;
  }
  normalise(result.records, sorted, partition, &result.stats);
  const size_t total = result.records.size();
  result.stats.repaired = total > walkOnly.size() ? total - walkOnly.size() : 0;
  result.stats.repairRequests = repairRequests_;
  result.stats.requests = walkSteps_ + repairRequests_;
  return result;
}

PartitionFetcher::Repaired PartitionFetcher::repair(const TopicReq& req, int32_t requestId,
                                                    RepairQueue& times) const {
  Repaired out;
  while (const std::optional<int64_t> t = times.next()) {
    if (repairedAt_.count(*t) != 0 || out.byTime.count(*t) != 0) continue;
    if (!out.status.ok() || readCancelFlag(cancel_)) {
      out.undone.push_back(*t);  // drain the queue; asked in the next attempt
      continue;
    }
    TopicReq again = req;
    again.beginTime = again.endTime = *t;
    Collector collector;
    out.status = api_.reqData(again, &collector, requestId, cancel_);
    collector.waitForLast();
    out.requests += collector.steps_;
    if (out.status.ok()) {
      out.byTime[*t] = collector.records();
    } else {
      out.undone.push_back(*t);
    }
  }
  return out;
}

}  // namespace cli
}  // namespace orvex
