// Several host threads issuing requests on one wrapper at once, each checking its own deliveries.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "E2eSupport.h"
#include "hqserver/DemoData.h"

namespace orvex {
namespace test {
namespace {

constexpr int64_t kDayNs = 86400LL * 1000000000LL;

struct HostRequest {
  int32_t requestId;
  TopicReq req;
  ResultStatus result;
};

class ConcurrencyTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(api->connect(service.url()).code, OK);
  }
  LocalService service;
};

TEST_F(ConcurrencyTest, EachRequestGetsExactlyItsOwnRecordsInOrder) {
  const std::vector<std::string> targets = {"CFFEX.IF2409", "DCE.m2409", "SHFE.cu2409",
                                            "SHFE.rb2410"};
  constexpr int kThreads = 4;
  constexpr int kRequestsPerThread = 3;
  std::vector<std::vector<HostRequest>> work(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    for (int r = 0; r < kRequestsPerThread; ++r) {
      const int64_t day = hqserver::DemoData::kFirstDayUtcNs + r * kDayNs;
      // Two threads share each target, so requests with one delivery key run at once.
      const std::string& target = targets[(t + r) % targets.size()];
      const std::string key = r == 2 ? "kline1m" : "tick";
      work[t].push_back(HostRequest{
          t * 100 + r, makeReq(key, {target}, day, day + kDayNs - 1, 1800 + 300 * t), {}});
    }
  }

  std::vector<std::thread> hosts;
  for (int t = 0; t < kThreads; ++t) {
    hosts.emplace_back([this, &work, t] {
      bool never = false;
      for (HostRequest& request : work[t]) {
        request.result = api->reqData(request.req, &spi, request.requestId, never);
      }
    });
  }
  for (std::thread& host : hosts) host.join();

  for (const auto& list : work) {
    for (const HostRequest& request : list) {
      SCOPED_TRACE(request.requestId);
      EXPECT_EQ(request.result.code, OK);
      const std::vector<Delivery> got = finishedRange(request.requestId, request.result);
      std::vector<RecordId> stored =
          storedRange(service.store(), request.req.targets[0], request.req.key,
                      request.req.beginTime, request.req.endTime);
      const size_t wanted = std::min<size_t>(stored.size(), request.req.maxCount);
      stored.erase(stored.begin(), stored.end() - wanted);
      EXPECT_EQ(rangeRecords(got), stored);
    }
  }
}

TEST_F(ConcurrencyTest, RangeAndPageRequestsRunSideBySide) {
  const int64_t day = hqserver::DemoData::kFirstDayUtcNs;
  ResultStatus rangeResult;
  ResultStatus pageResult;
  std::thread rangeHost([&] {
    bool never = false;
    rangeResult =
        api->reqData(makeReq("tick", {"DCE.m2409"}, day, day + kDayNs, 3000), &spi, 1, never);
  });
  std::thread pageHost([&] {
    bool never = false;
    pageResult = api->reqData(
        makeReq("kline1m", {"DCE.m2409", "SHFE.cu2409"}, day, day + kDayNs, 0, ByModifyTime), &spi,
        2, never);
  });
  rangeHost.join();
  pageHost.join();

  EXPECT_EQ(rangeResult.code, OK);
  EXPECT_EQ(pageResult.code, OK);
  EXPECT_EQ(finishedRange(1, rangeResult).size(), 4u);
  ASSERT_TRUE(spi.waitForLast(2, kDeliveryWait));
  const std::vector<Delivery> pages = spi.deliveries(2);
  size_t records = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(pages[i].isLast, i + 1 == pages.size());
    EXPECT_EQ(pages[i].mtmValue, pages[0].mtmValue);
    records += pages[i].bodyCount();
  }
  EXPECT_GT(records, 0u);
}

}  // namespace
}  // namespace test
}  // namespace orvex
