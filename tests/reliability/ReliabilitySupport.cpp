#include "ReliabilitySupport.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace orvex::test::reliability {

const std::vector<std::string>& DataSet::targets() {
  static const std::vector<std::string> list = {"R0.x", "R1.y", "R2.z", "R3.w"};
  return list;
}

std::shared_ptr<const hqserver::DataStore> DataSet::store() {
  static const std::shared_ptr<const hqserver::DataStore> data = [] {
    auto store = std::make_shared<hqserver::DataStore>();
    for (const std::string& t : targets()) {
      for (int i = 0; i < kBarCount; ++i) {
        store->add(t, "bar", kBase + i * 60000000000LL, kBase + (kBarCount - i) * 1000, 1.5,
                   t + "/bar/" + std::to_string(i));
      }
      for (int i = 0; i < kTickCount; ++i) {
        const int64_t time = kBase + i * kTickStep;
        store->add(t, "tick", time, time + 7, 1.5, t + "/tick/" + std::to_string(i));
      }
    }
    store->seal();
    return store;
  }();
  return data;
}

std::vector<RecordId> DataSet::range(const std::string& target, const std::string& key,
                                     int64_t begin, int64_t end, int64_t maxCount) {
  std::vector<RecordId> ids;
  const hqserver::Series* series = store()->find(target, key);
  for (size_t i = 0; series != nullptr && i < series->size(); ++i) {
    const TopicBody& b = series->records[i].body;
    if (b.time >= begin && b.time <= end) ids.emplace_back(target, b.time, b.data);
  }
  ids.erase(ids.begin(), ids.end() - std::min<int64_t>(ids.size(), std::max<int64_t>(0, maxCount)));
  return ids;
}

std::vector<RecordId> DataSet::pages(const std::string& key, std::vector<std::string> targets,
                                     int64_t beginMtm, int64_t endMtm) {
  std::vector<RecordId> ids;  // the store orders series by target, records by time
  for (const hqserver::Series* s : store()->seriesOfKey(key)) {
    if (!targets.empty() && std::count(targets.begin(), targets.end(), s->target) == 0) continue;
    for (const hqserver::StoredRecord& r : s->records) {
      if (r.mtm >= beginMtm && r.mtm <= endMtm)
        ids.emplace_back(s->target, r.body.time, r.body.data);
    }
  }
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
  if (last.status.toString() != result.toString()) {
    return AssertionFailure() << "last delivery carries " << last.status.toString()
                              << ", the request returned " << result.toString();
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
        !(failedLastStep ? d.status.toString() == result.toString() : d.status.ok())) {
      return AssertionFailure() << "batch before the last carries " << d.status.toString()
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
                              << expected.size() << " expected with " << result.toString();
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult isClearFailure(const ResultStatus& status) {
  if (!status.ok() && !status.msg.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "not a clear failure: " << status.toString();
}

::testing::AssertionResult PluginHost::start(int pools, const hqserver::ServerOptions& options,
                                             std::shared_ptr<const hqserver::DataStore> store) {
  service = std::make_unique<LocalService>(options, std::move(store));
  api = loader.create();
  if (!api) return ::testing::AssertionFailure() << "no wrapper of type id 5: " << loader.error();
  const ResultStatus init = api->init(pools);
  const ResultStatus connect = init.ok() ? api->connect(service->url()) : init;
  if (!connect.ok()) return ::testing::AssertionFailure() << "start: " << connect.toString();
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
