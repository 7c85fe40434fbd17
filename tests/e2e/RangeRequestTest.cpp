// Range requests through the loaded plug-in: batches, their records against what the service
// holds, the final batch, failures and cancellation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "E2eSupport.h"
#include "ScriptedHttpServer.h"
#include "hqserver/DemoData.h"

namespace orvex {
namespace test {
namespace {

using ::testing::ElementsAre;

constexpr const char* kRangePath = "/QryCodeType";
constexpr int64_t kDayNs = 86400LL * 1000000000LL;

std::vector<size_t> batchSizes(const std::vector<Delivery>& deliveries) {
  std::vector<size_t> sizes;
  for (const Delivery& d : deliveries) sizes.push_back(d.bodyCount());
  return sizes;
}

class RangeRequestTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(api->connect(service.url()).code, OK);
  }
  LocalService service;
};

TEST_F(RangeRequestTest, TwoAndAHalfStepsDeliverTheLatestRecordsOfTheRange) {
  const int64_t begin = hqserver::DemoData::kFirstDayUtcNs;
  const int64_t end = begin + kDayNs - 1;
  const TopicReq req = makeReq("tick", {"SHFE.cu2409"}, begin, end, 2500);

  const ResultStatus result = api->reqData(req, &spi, -17, cancel);

  EXPECT_EQ(result.code, OK);
  const std::vector<Delivery> got = finishedRange(-17, result);
  EXPECT_THAT(batchSizes(got), ElementsAre(1000u, 1000u, 500u, 0u));
  EXPECT_EQ(service.requestCount(kRangePath), 3u);
  std::vector<RecordId> stored = storedRange(service.store(), "SHFE.cu2409", "tick", begin, end);
  ASSERT_GE(stored.size(), 2500u);
  stored.erase(stored.begin(), stored.end() - 2500);
  EXPECT_EQ(rangeRecords(got), stored);
  for (const Delivery& d : got) {
    EXPECT_EQ(d.status.code, OK);
    if (!d.topics.empty()) {
      EXPECT_EQ(d.topics.front().target, "SHFE.cu2409");
      EXPECT_EQ(d.topics.front().key, "tick");
    }
  }
}

// 2300 distinct times, and time 1301 held twice: it is the earliest time of the first full step,
// so its second record is the one the backwards walk skips.
class RangeWalkTest : public PluginTest {
 protected:
  static std::shared_ptr<const hqserver::DataStore> data() {
    return LocalService::fromCsv(csvLines("T", "k", timesFrom(1, 2300)) +
                                 "T,k,1301,9,1.5,r1301b\n" + csvLines("U", "k", timesFrom(1, 10)));
  }
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(api->connect(service.url()).code, OK);
  }
  LocalService service{hqserver::ServerOptions(), data()};
};

TEST_F(RangeWalkTest, WholeRangeHasNoDuplicateAndOnlyTheStepBoundaryGap) {
  const ResultStatus result = api->reqData(makeReq("k", {"T"}, 1, 100000, 100000), &spi, 3, cancel);

  EXPECT_EQ(result.code, OK);
  const std::vector<Delivery> got = finishedRange(3, result);
  // The third step returns fewer records than asked and ends the run.
  EXPECT_THAT(batchSizes(got), ElementsAre(1000u, 1000u, 300u, 0u));
  EXPECT_EQ(service.requestCount(kRangePath), 3u);

  const std::vector<RecordId> delivered = rangeRecords(got);
  EXPECT_TRUE(
      std::is_sorted(delivered.begin(), delivered.end(),
                     [](const RecordId& a, const RecordId& b) { return a.first < b.first; }));
  const std::set<RecordId> unique(delivered.begin(), delivered.end());
  EXPECT_EQ(unique.size(), delivered.size()) << "a record was delivered twice";

  std::set<int64_t> fullStepEarliest;
  for (const Delivery& d : got) {
    if (d.bodyCount() == 1000) fullStepEarliest.insert(d.topics.front().bodies.front().time);
  }
  std::vector<RecordId> missing;
  for (const RecordId& id : storedRange(service.store(), "T", "k", 1, 100000)) {
    if (unique.count(id) == 0) missing.push_back(id);
  }
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].first, 1301);
  EXPECT_EQ(fullStepEarliest.count(missing[0].first), 1u);
}

TEST_F(RangeWalkTest, CancelOnEntryDeliversOnlyTheFinalBatch) {
  cancel = true;
  const ResultStatus range = api->reqData(makeReq("k", {"T"}, 1, 100, 10), &spi, 1, cancel);
  const ResultStatus page =
      api->reqData(makeReq("k", {"T"}, 1, 100, 10, ByModifyTime), &spi, 2, cancel);
  EXPECT_EQ(range.code, OK);
  EXPECT_EQ(page.code, OK);
  const std::vector<Delivery> got = finishedRange(1, range);
  EXPECT_EQ(got.size(), 1u);
  api->release();  // whatever was queued has run
  EXPECT_TRUE(spi.deliveries(2).empty());
  EXPECT_EQ(service.requestCount(kRangePath), 0u);
  EXPECT_EQ(service.requestCount("/QryPageTgtDetailV2"), 0u);
}

std::string bodyLines(int64_t first, int64_t last) {
  std::string text;
  for (int64_t t = first; t <= last; ++t)
    text += std::to_string(t) + ",1.5,s" + std::to_string(t) + "\n";
  return text;
}

class ScriptedRangeTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(api->connect(server.url()).code, OK);
    server.clear();
  }
  ScriptedHttpServer server;
};

TEST_F(ScriptedRangeTest, FailureAtTheSecondStepReachesTheHostTwiceAndIsReturned) {
  server.script(kRangePath, ScriptedAnswer::ok(bodyLines(1001, 2000)));
  server.script(kRangePath, ScriptedAnswer::withStatus(500, "down"));

  const ResultStatus result = api->reqData(makeReq("k", {"T"}, 1, 2000, 5000), &spi, 9, cancel);

  EXPECT_NE(result.code, OK);
  const std::vector<Delivery> got = finishedRange(9, result);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].status.code, OK);
  EXPECT_EQ(got[0].bodyCount(), 1000u);
  EXPECT_EQ(got[1].status.code, result.code);
  EXPECT_EQ(got[1].status.msg, result.msg);
  EXPECT_EQ(got[1].bodyCount(), 0u);
  EXPECT_FALSE(got[1].isLast);
  EXPECT_EQ(server.requestsTo(kRangePath).size(), 2u);
}

TEST_F(ScriptedRangeTest, CancelFromAnotherThreadStopsAfterTheStepInProgress) {
  server.script(kRangePath, ScriptedAnswer::ok(bodyLines(9001, 10000)));
  // The second answer is held back long enough for the host to cancel while it is awaited.
  server.script(kRangePath,
                ScriptedAnswer::ok(bodyLines(8001, 9000)).after(std::chrono::milliseconds(500)));
  server.setDefaultAnswer(kRangePath, ScriptedAnswer::ok(bodyLines(1, 1000)));

  ResultStatus result;
  std::thread host(
      [&] { result = api->reqData(makeReq("k", {"T"}, 1, 10000, 100000), &spi, 4, cancel); });
  ASSERT_TRUE(server.waitForRequests(2, kDeliveryWait));
  setCancelFlag(cancel, true);
  host.join();

  EXPECT_EQ(result.code, OK);
  const std::vector<Delivery> got = finishedRange(4, result);
  EXPECT_THAT(batchSizes(got), ElementsAre(1000u, 1000u, 0u));
  EXPECT_EQ(server.requestsTo(kRangePath).size(), 2u);
}

}  // namespace
}  // namespace test
}  // namespace orvex
