#include "ReliabilitySupport.h"

#include <algorithm>
#include <thread>

namespace orvex::test::reliability {
namespace {

struct Row {
  std::string target, key;
  int64_t time, mtm;
  std::string data;
};

const std::vector<Row>& rows() {
  static const std::vector<Row> all = [] {
    std::vector<Row> out;
    for (const std::string& t : DataSet::targets()) {
      for (int i = 0; i < DataSet::kBarCount; ++i) {
        out.push_back(Row{t, "bar", DataSet::kBase + i * 60000000000LL,
                          DataSet::kBase + (DataSet::kBarCount - i) * 1000,
                          t + "/bar/" + std::to_string(i)});
      }
      for (int i = 0; i < DataSet::kTickCount; ++i) {
        const int64_t time = DataSet::kBase + i * DataSet::kTickStep;
        out.push_back(Row{t, "tick", time, time + 7, t + "/tick/" + std::to_string(i)});
      }
    }
    return out;
  }();
  return all;
}

template <typename Keep>
std::vector<RecordId> select(Keep keep) {
  std::vector<RecordId> ids;
  for (const Row& r : rows()) {
    if (keep(r)) ids.emplace_back(r.target, r.time, r.data);
  }
  return ids;
}

std::string describe(const ResultStatus& s) { return std::to_string(s.code) + "@" + s.msg; }

}  // namespace

const std::vector<std::string>& DataSet::targets() {
  static const std::vector<std::string> list = {"R0.x", "R1.y", "R2.z", "R3.w"};
  return list;
}

std::shared_ptr<const hqserver::DataStore> DataSet::store() {
  static const std::shared_ptr<const hqserver::DataStore> data = [] {
    std::string csv;
    for (const Row& r : rows()) {
      csv += r.target + "," + r.key + "," + std::to_string(r.time) + "," + std::to_string(r.mtm) +
             ",1.5," + r.data + "\n";
    }
    return LocalService::fromCsv(csv);
  }();
  return data;
}

std::vector<RecordId> DataSet::range(const std::string& target, const std::string& key,
                                     int64_t begin, int64_t end, int64_t maxCount) {
  std::vector<RecordId> ids = select([&](const Row& r) {
    return r.target == target && r.key == key && r.time >= begin && r.time <= end;
  });
  ids.erase(ids.begin(), ids.end() - std::min<int64_t>(ids.size(), std::max<int64_t>(0, maxCount)));
  return ids;
}

std::vector<RecordId> DataSet::pages(const std::string& key, std::vector<std::string> targets,
                                     int64_t beginMtm, int64_t endMtm) {
  std::vector<RecordId> ids = select([&](const Row& r) {
    return r.key == key && r.mtm >= beginMtm && r.mtm <= endMtm &&
           (targets.empty() || std::count(targets.begin(), targets.end(), r.target) > 0);
  });
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::vector<RecordId> DataSet::latest(const std::string& key,
                                      const std::vector<std::string>& targets) {
  std::vector<RecordId> ids;
  for (const std::string& t : targets) {
    for (const RecordId& id : range(t, key, INT64_MIN, INT64_MAX, 1)) ids.push_back(id);
  }
  return ids;
}

std::vector<RecordId> idsOf(const std::vector<CloudTopic>& topics) {
  std::vector<RecordId> ids;
  for (const CloudTopic& t : topics) {
    for (const TopicBody& b : t.bodies) ids.emplace_back(t.target, b.time, b.data);
  }
  return ids;
}

::testing::AssertionResult deliveriesHold(const std::vector<Delivery>& got,
                                          const ResultStatus& result, const TopicReq& req) {
  using ::testing::AssertionFailure;
  const bool paged = (req.flags & ByModifyTime) != 0;
  if (got.empty()) return AssertionFailure() << "no delivery";
  const Delivery& last = got.back();
  if (describe(last.status) != describe(result)) {
    return AssertionFailure() << "last delivery carries " << describe(last.status)
                              << ", the request returned " << describe(result);
  }
  if (!paged && (!last.isLast || !last.topics.empty() || last.mtmValue != 0)) {
    return AssertionFailure() << "the last delivery is not an empty final batch";
  }
  if (paged && result.ok() && !last.isLast) return AssertionFailure() << "OK without isLast";
  std::vector<RecordId> records;
  for (size_t i = 0; i < got.size(); ++i) {
    const Delivery& d = got[paged ? i : got.size() - 1 - i];  // range batches: newest first
    if (d.thread != got.front().thread) return AssertionFailure() << "two pool threads";
    if (d.thread == std::this_thread::get_id()) return AssertionFailure() << "on the host's thread";
    const std::vector<RecordId> ids = idsOf(d.topics);
    records.insert(records.end(), ids.begin(), ids.end());
    if (&d == &last) continue;
    const bool failedLastStep = !paged && &d == &got[got.size() - 2] && !result.ok();
    if (d.isLast || d.mtmValue != (paged ? got.front().mtmValue : 0) ||
        !(failedLastStep ? describe(d.status) == describe(result) : d.status.ok())) {
      return AssertionFailure() << "batch before the last carries " << describe(d.status)
                                << ", isLast " << d.isLast << ", mtm " << d.mtmValue;
    }
  }
  const std::vector<RecordId> expected =
      paged ? DataSet::pages(req.key, req.targets, req.beginTime, req.endTime)
      : req.targets.empty()
          ? std::vector<RecordId>()
          : DataSet::range(req.targets[0], req.key, req.beginTime, req.endTime, req.maxCount);
  const auto from = paged ? expected.begin() : expected.end() - records.size();
  if (records.size() > expected.size() || !std::equal(records.begin(), records.end(), from) ||
      (result.ok() && records.size() != expected.size())) {
    return AssertionFailure() << records.size() << " records delivered do not match the "
                              << expected.size() << " expected with " << describe(result);
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult isClearFailure(const ResultStatus& status) {
  if (!status.ok() && !status.msg.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "not a clear failure: " << describe(status);
}

::testing::AssertionResult PluginHost::start(int pools, const std::string& address) {
  api = loader.create();
  if (!api) return ::testing::AssertionFailure() << "no wrapper of type id 5: " << loader.error();
  const ResultStatus init = api->init(pools), connect = init.ok() ? api->connect(address) : init;
  if (!connect.ok()) return ::testing::AssertionFailure() << "start: " << describe(connect);
  return ::testing::AssertionSuccess();
}

ResultStatus PluginHost::run(const TopicReq& req, int32_t requestId) {
  bool cancel = false;
  const ResultStatus result = api->reqData(req, &spi, requestId, cancel);
  // A range request ends with its final batch; a page request with its last or a failed page.
  const bool paged = (req.flags & ByModifyTime) != 0;
  bool ended = !paged && spi.waitForLast(requestId, std::chrono::minutes(2));
  for (int i = 0; paged && !ended && i < 60000; ++i) {
    const std::vector<Delivery> got = spi.deliveries(requestId);
    ended = !got.empty() && (got.back().isLast || !got.back().status.ok());
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(ended) << "request " << requestId << " hangs";
  EXPECT_TRUE(deliveriesHold(spi.deliveries(requestId), result, req)) << "request " << requestId;
  return result;
}

}  // namespace orvex::test::reliability
