// Eight host threads drive one wrapper at once with a mix of range requests, page requests and
// the three synchronous lookups, while the service injects occasional faults. Each request must
// end with a status the client owes the host and, for the asynchronous ones, a complete and
// ordered set of deliveries. Run under ThreadSanitizer as well (label "concurrency").
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "ReliabilitySupport.h"

namespace orvex {
namespace test {
namespace reliability {
namespace {

constexpr int kHostThreads = 8;
constexpr int kRequestsPerThread = 200;

// Faults every few dozen requests, all endpoints: token errors (retried away), server errors,
// unreadable bodies, closed connections and slow answers.
const char* const kFaults[] = {
    "kind=status,code=401,every=13", "kind=status,code=503,every=101", "kind=garbage,every=89",
    "kind=close,every=67",           "kind=delay,ms=30,every=7",
};

bool isOwedStatus(const ResultStatus& status) {
  return status.code == OK || status.code == EN_ICE_NET_ERROR || status.code == UNKNOWN;
}

class ConcurrencySoakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service = std::make_unique<LocalService>(hqserver::ServerOptions(), DataSet::store());
    ASSERT_TRUE(host.start(4, service->url()));
    for (const char* text : kFaults) {
      std::string error;
      auto rule = hqserver::FaultRule::parse(text, error);
      ASSERT_TRUE(rule.has_value()) << error;
      service->faults().add(*rule);
    }
  }

  // One host thread's share of the work; `t` spreads targets, ranges and request numbers.
  void hostThread(int t) {
    for (int i = 0; i < kRequestsPerThread; ++i) {
      const std::string& target = DataSet::targets()[(t + i) % DataSet::targets().size()];
      const int32_t requestId = t * 1000 + i;
      switch (i % 5) {
        case 0:
          rangeRequest(requestId, target, i);
          break;
        case 1:
          pageRequest(requestId, target, i);
          break;
        case 2:
          lastData();
          break;
        case 3:
          rangeLookup(target, i);
          break;
        default:
          cacheLookup(target);
          break;
      }
    }
  }

  void count(const ResultStatus& status) {
    EXPECT_TRUE(isOwedStatus(status)) << status.code << "@" << status.msg;
    (status.ok() ? succeeded : failed)++;
  }

  void rangeRequest(int32_t requestId, const std::string& target, int i) {
    const int64_t begin = DataSet::kBase + (i * 37 % 500) * DataSet::kTickStep;
    const int64_t end = DataSet::lastTickTime() - (i * 11 % 300) * DataSet::kTickStep;
    const int32_t maxCount = 1000 + (i % 3) * 600;
    bool cancel = false;
    const ResultStatus result = host.api().reqData(makeReq("tick", {target}, begin, end, maxCount),
                                                   &host.spi(), requestId, cancel);
    count(result);
    ASSERT_TRUE(awaitRangeEnd(host.spi(), requestId)) << requestId;
    EXPECT_TRUE(rangeDeliveriesHold(host.spi().deliveries(requestId), result,
                                    DataSet::range(target, "tick", begin, end, maxCount)))
        << requestId;
  }

  void pageRequest(int32_t requestId, const std::string& target, int i) {
    std::vector<std::string> targets = {target};
    if (i % 2 == 1) targets.push_back(DataSet::targets()[(i / 2) % DataSet::targets().size()]);
    const int64_t beginMtm = DataSet::kBase + (i % 50) * 1000;
    bool cancel = false;
    const ResultStatus result =
        host.api().reqData(makeReq("bar", targets, beginMtm, INT64_MAX, 0, ByModifyTime),
                           &host.spi(), requestId, cancel);
    count(result);
    ASSERT_TRUE(awaitPageEnd(host.spi(), requestId)) << requestId;
    EXPECT_TRUE(pageDeliveriesHold(host.spi().deliveries(requestId), result,
                                   DataSet::pages("bar", targets, beginMtm, INT64_MAX)))
        << requestId;
  }

  void lastData() {
    std::vector<std::string> targets = DataSet::targets();
    targets.push_back("NOT.THERE");
    std::vector<CloudTopic> out;
    const ResultStatus result = host.api().getLastData("tick", targets, out);
    count(result);
    if (result.ok()) {
      EXPECT_EQ(idsOf(out), DataSet::latest("tick", targets));
    }
  }

  void rangeLookup(const std::string& target, int i) {
    const int64_t end = DataSet::lastTickTime() - (i % 400) * DataSet::kTickStep;
    const int32_t maxCount = 700 + (i % 4) * 300;
    CloudTopic out;
    const ResultStatus result =
        host.api().getData(TopicKey{target, "tick"}, DataSet::kBase, end, maxCount, out);
    count(result);
    const std::vector<RecordId> expected =
        DataSet::range(target, "tick", DataSet::kBase, end, maxCount);
    const std::vector<RecordId> got = idsOf(out);
    // On failure the blocks fetched before it are kept: the newest part of what was asked for.
    ASSERT_LE(got.size(), expected.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.end() - got.size()));
    if (result.ok()) {
      EXPECT_EQ(got.size(), expected.size());
    }
  }

  void cacheLookup(const std::string& target) {
    CloudTopic out;
    const ResultStatus result = host.api().getDataCache(TopicKey{target, "tick"}, out);
    count(result);
    if (result.ok()) {
      EXPECT_EQ(idsOf(out), DataSet::latest("tick", {target}));
    }
  }

  std::unique_ptr<LocalService> service;
  PluginHost host;
  std::atomic<int> succeeded{0};
  std::atomic<int> failed{0};
};

TEST_F(ConcurrencySoakTest, EightHostThreadsMixAllRequestKindsUnderFaults) {
  std::vector<std::thread> hosts;
  for (int t = 0; t < kHostThreads; ++t) hosts.emplace_back([this, t] { hostThread(t); });
  for (std::thread& h : hosts) h.join();

  const uint64_t fired = service->faults().fired();
  std::printf("[ soak     ] %d requests: %d OK, %d failed; %llu faults injected\n",
              succeeded + failed, succeeded.load(), failed.load(),
              static_cast<unsigned long long>(fired));
  RecordProperty("faults_injected", static_cast<int>(fired));
  EXPECT_EQ(succeeded + failed, kHostThreads * kRequestsPerThread);
  EXPECT_GT(fired, 0u);
  // Faults are occasional: most requests must get through.
  EXPECT_GT(succeeded.load(), failed.load());

  // Every asynchronous request delivered something, and nothing arrived for a request not made.
  for (int32_t id : host.spi().requestIds()) {
    EXPECT_LT(id % 1000, kRequestsPerThread);
    EXPECT_LT(id % 1000 % 5, 2);
  }
  EXPECT_EQ(host.spi().requestIds().size(), static_cast<size_t>(kHostThreads) * 80);
}

}  // namespace
}  // namespace reliability
}  // namespace test
}  // namespace orvex
