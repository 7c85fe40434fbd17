// release and destruction right after requests return, while their deliveries are still queued
// behind a host callback that has not returned: every queued delivery still reaches the host, in
// order, before release or the destructor returns.

#include <future>
#include <thread>

#include "ReliabilitySupport.h"

namespace orvex::test::reliability {
namespace {

constexpr int kRequests = 24;

TopicReq req(int i) {  // three steps: four deliveries each
  return TopicReq{
      "tick", {DataSet::targets()[i % 4]}, DataSet::kBase, DataSet::lastTickTime(), 2100};
}

class LifecycleTest : public ::testing::TestWithParam<bool> {};  // true: release, or destroy

TEST_P(LifecycleTest, RightAfterRequestsEverythingQueuedIsDelivered) {
  LocalService service(hqserver::ServerOptions(), DataSet::store());
  PluginHost host;
  ASSERT_TRUE(host.start(3, service.url()));
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  host.spi.setObserver([opened](const Delivery&) { opened.wait(); });  // holds every pool
  std::vector<ResultStatus> results(kRequests);
  std::vector<std::thread> hosts;
  for (int t = 0; t < 4; ++t) {
    hosts.emplace_back([&, t] {
      bool cancel = false;
      for (int i = t; i < kRequests; i += 4) {
        results[i] = host.api->reqData(req(i), &host.spi, i, cancel);
      }
    });
  }
  for (std::thread& h : hosts) h.join();
  EXPECT_LE(host.spi.count(), 3u) << "one delivery per pool at most before the gate opens";
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gate.set_value();
  });
  GetParam() ? host.api->release() : host.api.reset();
  opener.join();
  for (int i = 0; i < kRequests; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[i].code, OK);
    EXPECT_TRUE(deliveriesHold(host.spi.deliveries(i), results[i], req(i)));
  }
  if (!GetParam()) return;
  // init after release serves again with new pools.
  ASSERT_EQ(host.api->init(2).code, OK);
  EXPECT_EQ(host.run(req(1), 501).code, OK);
}

INSTANTIATE_TEST_SUITE_P(ReleaseOrDestroy, LifecycleTest, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "Release" : "Destroy");
});

}  // namespace
}  // namespace orvex::test::reliability
