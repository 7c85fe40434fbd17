// The real plug-in, loaded with dlopen as a host loads it and reached only through the factory,
// against the local history service: a range walk's step boundary, cancellation on entry
// and from another thread, the synchronous range lookup, the batching of the latest-data lookup
// and a failed connect. The fault suite covers the failures of every request kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "ReliabilitySupport.h"

namespace orvex::test::reliability {
namespace {

const std::string kTarget = "R0.x";  // DataSet::kTickCount ticks
constexpr const char* kRangePath = "/QryCodeType";

std::vector<size_t> batchSizes(const std::vector<Delivery>& deliveries) {
  std::vector<size_t> sizes;
  for (const Delivery& d : deliveries) sizes.push_back(d.bodyCount());
  return sizes;
}

class PluginTest : public ::testing::Test {
 protected:
  PluginHost host;
  bool cancel = false;
};

TEST_F(PluginTest, TheWalkSkipsASecondRecordAtTheEarliestTimeOfAFullStep) {
  std::string csv = "T,k,2001,9,1.5,second\n";  // times 1..3000, and again at 2001
  for (int t = 1; t <= 3000; ++t) csv += "T,k," + std::to_string(t) + ",9,1.5,r\n";
  ASSERT_TRUE(host.start(2, {}, LocalService::fromCsv(csv)));
  EXPECT_EQ(host.api->reqData(TopicReq{"k", {"T"}, 1, 3000, 2500}, &host.spi, 1, cancel).code, OK);
  ASSERT_TRUE(host.spi.waitForLast(1, std::chrono::minutes(1)));
  std::vector<int64_t> times;
  for (const Delivery& d : host.spi.deliveries(1)) {
    for (const RecordId& id : idsOf(d.topics)) times.push_back(std::get<1>(id));
  }
  ASSERT_EQ(times.size(), 2500u);
  EXPECT_EQ(std::count(times.begin(), times.end(), 2001), 1);
  EXPECT_EQ(*std::min_element(times.begin(), times.end()), 501);
}

TEST_F(PluginTest, CancelOnEntryMakesNoCall) {
  ASSERT_TRUE(host.start(2));
  cancel = true;
  TopicReq req{"tick", {kTarget}, 1, 100, 10};
  EXPECT_EQ(host.api->reqData(req, &host.spi, 1, cancel).code, OK);
  req.flags = ByModifyTime;
  EXPECT_EQ(host.api->reqData(req, &host.spi, 2, cancel).code, OK);
  host.api->release();  // runs whatever was queued
  EXPECT_EQ(batchSizes(host.spi.deliveries(1)), std::vector<size_t>{0});  // the final batch
  EXPECT_TRUE(host.spi.deliveries(2).empty());
  EXPECT_EQ(
      host.service->requestCount(kRangePath) + host.service->requestCount("/QryPageTgtDetailV2"),
      0u);
}

TEST_F(PluginTest, CancelFromAnotherThreadStopsAfterTheStepInProgress) {
  // The second step is held back long enough for the host to cancel while it is awaited.
  ASSERT_TRUE(host.start(2));
  host.service->addFault("kind=delay,ms=500,path=/QryCodeType,every=2");
  ResultStatus result;
  const int32_t id = -4;  // a negative request number comes back unchanged as well
  std::thread other([&] {
    result = host.api->reqData(TopicReq{"tick", {kTarget}, INT64_MIN, INT64_MAX, 100000}, &host.spi,
                               id, cancel);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (host.service->requestCount(kRangePath) < 2 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  setCancelFlag(cancel, true);
  other.join();

  EXPECT_EQ(result.code, OK);
  ASSERT_TRUE(host.spi.waitForLast(id, std::chrono::minutes(1)));
  EXPECT_EQ(batchSizes(host.spi.deliveries(id)), (std::vector<size_t>{1000, 1000, 0}));
  EXPECT_EQ(host.service->requestCount(kRangePath), 2u);
}

TEST_F(PluginTest, GetDataPutsTheFetchedRecordsInFrontOfThoseHeld) {
  ASSERT_TRUE(host.start(2));
  CloudTopic out;
  out.bodies.push_back(TopicBody{9000, 0.0, "held"});
  const int64_t end = DataSet::lastTickTime() - 100 * DataSet::kTickStep;

  EXPECT_EQ(host.api->getData(TopicKey{kTarget, "tick"}, INT64_MIN, end, 1200, out).code, OK);

  std::vector<RecordId> expected = DataSet::range(kTarget, "tick", INT64_MIN, end, 1200);
  expected.emplace_back(kTarget, 9000, "held");
  EXPECT_EQ(idsOf({out}), expected);
  EXPECT_EQ(out.key, "tick");
  EXPECT_EQ(host.spi.count(), 0u);  // answered on this thread, not through an IHistorySpi
}

TEST_F(PluginTest, LastDataAsksInBatchesOfFiveHundredInOrder) {
  ASSERT_TRUE(host.start(
      2, {}, LocalService::fromCsv("t499,k,1,1,1,x\nt500,k,1,1,1,y\nt1199,k,1,1,1,z\n")));
  host.service->addFault("kind=status,code=500,path=/QryLast,every=2");
  std::vector<std::string> targets;
  for (int i = 0; i < 1200; ++i) targets.push_back("t" + std::to_string(i));
  std::vector<CloudTopic> out(1);
  out[0].target = "held";

  // The failed middle batch (t500 to t999) is the result; the others' records are appended in
  // order.
  EXPECT_NE(host.api->getLastData("k", targets, out).code, OK);

  std::vector<std::string> got;
  for (const CloudTopic& topic : out) got.push_back(topic.target);
  EXPECT_EQ(got, (std::vector<std::string>{"held", "t499", "t1199"}));
  EXPECT_EQ(host.service->requestCount("/QryLast"), 3u);
}

TEST_F(PluginTest, AFailedHeartbeatFailsConnectWithoutAskingForTheName) {
  ASSERT_TRUE(host.start(2));
  host.service->addFault("kind=status,path=/HeartBeat");
  const uint64_t asked = host.service->requestCount("/getServerVersion");
  EXPECT_TRUE(isClearFailure(host.api->connect(host.service->url())));
  EXPECT_EQ(host.service->requestCount("/getServerVersion"), asked);
}

}  // namespace
}  // namespace orvex::test::reliability
