// release and destruction right after requests return, while their deliveries are still queued
// behind a host callback that has not returned yet: every queued delivery still reaches the
// host, in order, before release or the destructor returns. Under AddressSanitizer a delivery that
// touched freed memory fails the run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "ReliabilitySupport.h"

namespace orvex {
namespace test {
namespace reliability {
namespace {

constexpr int kRequests = 24;
constexpr int32_t kMaxCount = 2100;  // three steps: four deliveries each

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service = std::make_unique<LocalService>(hqserver::ServerOptions(), DataSet::store());
    ASSERT_TRUE(host.start(3, service->url()));
  }

  void TearDown() override {
    if (opener.joinable()) opener.join();
  }

  // Holds every pool thread inside its first delivery until openGateSoon(): the batches of all
  // later requests stay queued.
  void closeGate() {
    std::shared_future<void> opened = gate.get_future().share();
    host.spi().setObserver([opened](const Delivery&) { opened.wait(); });
  }

  // Opens the gate from another thread shortly after, while the test thread is inside release
  // or the destructor.
  void openGateSoon() {
    opener = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      gate.set_value();
    });
  }

  TopicReq req(int i) const {
    const std::string& target = DataSet::targets()[i % DataSet::targets().size()];
    return makeReq("tick", {target}, DataSet::kBase, DataSet::lastTickTime(), kMaxCount);
  }

  // Issues every request from four host threads; returns once all reqData calls returned.
  std::vector<ResultStatus> issueAll() {
    std::vector<ResultStatus> results(kRequests);
    std::vector<std::thread> hosts;
    for (int t = 0; t < 4; ++t) {
      hosts.emplace_back([this, t, &results] {
        bool cancel = false;
        for (int i = t; i < kRequests; i += 4) {
          results[i] = host.api().reqData(req(i), &host.spi(), i, cancel);
        }
      });
    }
    for (std::thread& h : hosts) h.join();
    return results;
  }

  // Everything delivered by now, without waiting: what release or destruction promised.
  void expectAllDelivered(const std::vector<ResultStatus>& results) {
    for (int i = 0; i < kRequests; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(results[i].code, OK);
      const TopicReq r = req(i);
      EXPECT_TRUE(rangeDeliveriesHold(
          host.spi().deliveries(i), results[i],
          DataSet::range(r.targets[0], "tick", r.beginTime, r.endTime, r.maxCount)));
    }
  }

  std::unique_ptr<LocalService> service;
  PluginHost host;
  std::promise<void> gate;
  std::thread opener;
};

TEST_F(LifecycleTest, ReleaseRightAfterRequestsDeliversEverythingQueued) {
  closeGate();
  const std::vector<ResultStatus> results = issueAll();
  EXPECT_LE(host.spi().count(), 3u) << "one delivery per pool at most before the gate opens";
  openGateSoon();
  host.api().release();
  expectAllDelivered(results);

  // Released pools take nothing more: a later request is still fetched and answered, but its
  // batches are dropped, as documented for a refused delivery.
  const size_t before = host.spi().count();
  bool cancel = false;
  EXPECT_EQ(host.api().reqData(req(0), &host.spi(), 500, cancel).code, OK);
  host.api().release();
  EXPECT_EQ(host.spi().count(), before);
  EXPECT_TRUE(host.spi().deliveries(500).empty());
}

TEST_F(LifecycleTest, DestructionRightAfterRequestsDeliversEverythingQueued) {
  closeGate();
  const std::vector<ResultStatus> results = issueAll();
  EXPECT_LE(host.spi().count(), 3u) << "one delivery per pool at most before the gate opens";
  openGateSoon();
  host.destroy();
  expectAllDelivered(results);
}

TEST_F(LifecycleTest, InitAfterReleaseServesAgainWithNewPools) {
  host.api().release();
  ASSERT_EQ(host.api().init(2).code, OK);
  bool cancel = false;
  const ResultStatus result = host.api().reqData(req(1), &host.spi(), 1, cancel);
  ASSERT_TRUE(awaitRangeEnd(host.spi(), 1));
  const TopicReq r = req(1);
  EXPECT_TRUE(rangeDeliveriesHold(
      host.spi().deliveries(1), result,
      DataSet::range(r.targets[0], "tick", r.beginTime, r.endTime, r.maxCount)));
}

TEST_F(LifecycleTest, RepeatedLifecyclesOnOneLoadedPlugin) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    PluginHost again;
    ASSERT_TRUE(again.start(1 + round % 3, service->url()));
    bool cancel = false;
    const ResultStatus result = again.api().reqData(req(round), &again.spi(), round, cancel);
    if (round % 2 == 0) again.api().release();
    again.destroy();
    const TopicReq r = req(round);
    EXPECT_TRUE(rangeDeliveriesHold(
        again.spi().deliveries(round), result,
        DataSet::range(r.targets[0], "tick", r.beginTime, r.endTime, r.maxCount)));
  }
}

}  // namespace
}  // namespace reliability
}  // namespace test
}  // namespace orvex
