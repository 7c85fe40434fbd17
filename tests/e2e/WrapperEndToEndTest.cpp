// The real plug-in, loaded with dlopen as a host loads it and reached only through the factory,
// against the local history service: the range walk's steps and stop rules, cancellation on entry
// and from another thread, the synchronous range lookup, the batching of the latest-data lookup
// and a failed connect. The fault suite covers the failures of every request kind.
#include <Poco/URI.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ReliabilitySupport.h"

namespace orvex::test::reliability {
namespace {

const std::string kTarget = "R0.x";  // DataSet::kTickCount ticks
constexpr const char* kRangePath = "/QryCodeType";
constexpr const char* kPagePath = "/QryPageTgtDetailV2";

std::vector<size_t> batchSizes(const std::vector<Delivery>& deliveries) {
  std::vector<size_t> sizes;
  for (const Delivery& d : deliveries) sizes.push_back(d.bodyCount());
  return sizes;
}

class PluginTest : public ::testing::Test {
 protected:
  // Starts the service on `store` with `settings` as its only fault rule, and the host on it.
  void serve(const std::string& settings = "",
             std::shared_ptr<const hqserver::DataStore> store = DataSet::store()) {
    service = std::make_unique<LocalService>(hqserver::ServerOptions(), std::move(store));
    if (!settings.empty()) service->addFault(settings);
    ASSERT_TRUE(host.start(2, service->url()));
  }
  // The value of query parameter `name` in each request to `path`, joined by ",".
  std::string sent(const std::string& path, const std::string& name) const {
    std::string values;
    for (const LoggedRequest& request : service->requests(path)) {
      for (const auto& [param, value] : Poco::URI(request.uri).getQueryParameters()) {
        if (param == name) values += value + ",";
      }
    }
    return values;
  }

  std::unique_ptr<LocalService> service;
  PluginHost host;  // after the service: the wrapper goes first
  bool cancel = false;
};

// The stop at a short step is the wrapper unit tests' (RangeStopRules).
TEST_F(PluginTest, RangeWalksStepByStepAskingOnlyForWhatTheCountLeaves) {
  serve();
  const int32_t requestId = -17;  // a negative number comes back unchanged as well
  EXPECT_EQ(host.run(TopicReq{"tick", {kTarget}, INT64_MIN, INT64_MAX, 2500}, requestId).code, OK);
  EXPECT_EQ(batchSizes(host.spi.deliveries(requestId)), (std::vector<size_t>{1000, 1000, 500, 0}));
  EXPECT_EQ(sent(kRangePath, "count"), "1000,1000,500,");
}

TEST_F(PluginTest, TheWalkSkipsASecondRecordAtTheEarliestTimeOfAFullStep) {
  std::string csv = "T,k,2001,9,1.5,second\n";  // times 1..3000, and again at 2001
  for (int t = 1; t <= 3000; ++t) csv += "T,k," + std::to_string(t) + ",9,1.5,r\n";
  serve("", LocalService::fromCsv(csv));
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
  serve();
  cancel = true;
  const ResultStatus range =
      host.api->reqData(TopicReq{"tick", {kTarget}, 1, 100, 10}, &host.spi, 1, cancel);
  const ResultStatus page = host.api->reqData(TopicReq{"tick", {kTarget}, 1, 100, 10, ByModifyTime},
                                              &host.spi, 2, cancel);
  EXPECT_EQ(range.code, OK);
  EXPECT_EQ(page.code, OK);
  host.api->release();  // runs whatever was queued
  EXPECT_EQ(batchSizes(host.spi.deliveries(1)), std::vector<size_t>{0});  // the final batch
  EXPECT_TRUE(host.spi.deliveries(2).empty());
  EXPECT_EQ(service->requestCount(kRangePath) + service->requestCount(kPagePath), 0u);
}

TEST_F(PluginTest, CancelFromAnotherThreadStopsAfterTheStepInProgress) {
  // The second step is held back long enough for the host to cancel while it is awaited.
  serve("kind=delay,ms=500,path=/QryCodeType,every=2");
  ResultStatus result;
  std::thread other([&] {
    result = host.api->reqData(TopicReq{"tick", {kTarget}, INT64_MIN, INT64_MAX, 100000}, &host.spi,
                               4, cancel);
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (service->requestCount(kRangePath) < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  setCancelFlag(cancel, true);
  other.join();

  EXPECT_EQ(result.code, OK);
  ASSERT_TRUE(host.spi.waitForLast(4, std::chrono::minutes(1)));
  EXPECT_EQ(batchSizes(host.spi.deliveries(4)), (std::vector<size_t>{1000, 1000, 0}));
  EXPECT_EQ(service->requestCount(kRangePath), 2u);
}

TEST_F(PluginTest, GetDataPutsTheFetchedRecordsInFrontOfThoseHeld) {
  serve();
  CloudTopic out;
  out.bodies.push_back(TopicBody{9000, 0.0, "held"});
  const int64_t end = DataSet::lastTickTime() - 100 * DataSet::kTickStep;

  EXPECT_EQ(host.api->getData(TopicKey{kTarget, "tick"}, INT64_MIN, end, 1200, out).code, OK);

  EXPECT_EQ(sent(kRangePath, "count"), "1000,200,");
  std::vector<RecordId> expected = DataSet::range(kTarget, "tick", INT64_MIN, end, 1200);
  expected.emplace_back(kTarget, 9000, "held");
  EXPECT_EQ(idsOf({out}), expected);
  EXPECT_EQ(out.key, "tick");
  EXPECT_EQ(host.spi.count(), 0u);  // answered on this thread, not through an IHistorySpi
}

TEST_F(PluginTest, LastDataAsksInBatchesOfFiveHundredInOrder) {
  serve("kind=status,code=500,path=/QryLast,every=2",
        LocalService::fromCsv("t0,k,1,1,1.0,x\nt1000,k,3,3,1.0,z\nt1199,k,4,4,1.0,w\n"));
  std::vector<std::string> targets;
  std::string expected;  // the codes of each request (ending in a comma), each followed by ","
  for (int i = 0; i < 1200; ++i) {
    targets.push_back("t" + std::to_string(i));
    expected += targets[i] + (i % 500 == 499 || i == 1199 ? ",," : ",");
  }
  std::vector<CloudTopic> out(1);
  out[0].target = "held";

  // The failed middle batch is the result; the others' records are appended in order.
  EXPECT_NE(host.api->getLastData("k", targets, out).code, OK);

  std::vector<std::string> got;
  for (const CloudTopic& topic : out) got.push_back(topic.target);
  EXPECT_EQ(got, (std::vector<std::string>{"held", "t0", "t1000", "t1199"}));
  EXPECT_EQ(sent("/QryLast", "codes"), expected);
}

TEST_F(PluginTest, AFailedHeartbeatFailsConnectWithoutAskingForTheName) {
  serve("kind=status,path=/HeartBeat,every=2");  // the second heartbeat fails
  const uint64_t asked = service->requestCount("/getServerVersion");
  EXPECT_TRUE(isClearFailure(host.api->connect(service->url())));
  EXPECT_EQ(service->requestCount("/getServerVersion"), asked);
}

}  // namespace
}  // namespace orvex::test::reliability
