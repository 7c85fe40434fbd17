// Shared pieces of the end-to-end tests: a plug-in loaded as the host loads it, a recording
// IHistorySpi, and the records the service holds for a request, to compare deliveries against.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "LocalService.h"
#include "PluginLoader.h"
#include "RecordingHistorySpi.h"

namespace orvex {
namespace test {

constexpr std::chrono::seconds kDeliveryWait{60};

// A record as the tests compare it: its time and its data text.
using RecordId = std::pair<int64_t, std::string>;

inline RecordId idOf(const TopicBody& body) { return {body.time, body.data}; }

// The records of (target, key) with begin <= time <= end, ascending, as the store holds them.
inline std::vector<RecordId> storedRange(const hqserver::DataStore& store,
                                         const std::string& target, const std::string& key,
                                         int64_t begin, int64_t end) {
  std::vector<RecordId> ids;
  const hqserver::Series* series = store.find(target, key);
  if (series == nullptr) return ids;
  for (const hqserver::StoredRecord& record : series->records) {
    if (record.body.time >= begin && record.body.time <= end) ids.push_back(idOf(record.body));
  }
  return ids;
}

// The records of a range request's deliveries in ascending order: the batches arrive newest
// block first, each block ascending.
inline std::vector<RecordId> rangeRecords(const std::vector<Delivery>& deliveries) {
  std::vector<RecordId> ids;
  for (auto d = deliveries.rbegin(); d != deliveries.rend(); ++d) {
    for (const CloudTopic& topic : d->topics) {
      for (const TopicBody& body : topic.bodies) ids.push_back(idOf(body));
    }
  }
  return ids;
}

// Lines of the service's CSV format for one series: one record per time, data "r<time>".
inline std::string csvLines(const std::string& target, const std::string& key,
                            const std::vector<int64_t>& times) {
  std::string csv;
  for (int64_t t : times) {
    csv += target + "," + key + "," + std::to_string(t) + "," + std::to_string(t + 7) + ",1.25,r" +
           std::to_string(t) + "\n";
  }
  return csv;
}

inline std::vector<int64_t> timesFrom(int64_t first, int64_t count, int64_t step = 1) {
  std::vector<int64_t> times;
  for (int64_t i = 0; i < count; ++i) times.push_back(first + i * step);
  return times;
}

inline TopicReq makeReq(const std::string& key, std::vector<std::string> targets, int64_t begin,
                        int64_t end, int32_t maxCount, uint32_t flags = 0) {
  TopicReq req;
  req.key = key;
  req.targets = std::move(targets);
  req.beginTime = begin;
  req.endTime = end;
  req.maxCount = maxCount;
  req.flags = flags;
  return req;
}

// The plug-in loaded and one wrapper made through the factory, with two pools. Members are
// destroyed in reverse order: the wrapper (which runs its queued deliveries) before the spi.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(loader.ok()) << loader.error();
    api = loader.create();
    ASSERT_NE(api, nullptr);
    ASSERT_EQ(api->init(2).code, OK);
  }
  // The wrapper goes before the services of derived fixtures, so its kept-alive connections are
  // closed by the client rather than cut by a stopping server.
  void TearDown() override { api.reset(); }

  // Checks what every range request must satisfy and returns its deliveries.
  std::vector<Delivery> finishedRange(int32_t requestId, const ResultStatus& result) {
    EXPECT_TRUE(spi.waitForLast(requestId, kDeliveryWait)) << requestId;
    std::vector<Delivery> got = spi.deliveries(requestId);
    size_t lasts = 0;
    for (const Delivery& d : got) {
      EXPECT_EQ(d.requestId, requestId);
      EXPECT_EQ(d.mtmValue, 0);
      EXPECT_NE(d.thread, std::this_thread::get_id());
      EXPECT_EQ(d.thread, got.front().thread);  // one pool serves the whole request
      lasts += d.isLast ? 1 : 0;
    }
    EXPECT_EQ(lasts, 1u);
    if (!got.empty()) {
      EXPECT_TRUE(got.back().isLast);
      EXPECT_TRUE(got.back().topics.empty());
      EXPECT_EQ(got.back().status.code, result.code);
      EXPECT_EQ(got.back().status.msg, result.msg);
    }
    return got;
  }

  PluginLoader loader;
  RecordingHistorySpi spi;
  std::unique_ptr<IHistoryApi> api;
  bool cancel = false;
};

}  // namespace test
}  // namespace orvex
