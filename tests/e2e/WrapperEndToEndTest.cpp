// The real plug-in, loaded with dlopen as a host loads it and reached only through the factory,
// with a recording IHistorySpi, against the local history service: the deliveries are checked
// against its records; its fault rules make the failures, the held-back step that is cancelled
// from another thread, the failed batch of the latest-data lookup and the failed connect.
#include <Poco/URI.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "LocalService.h"
#include "PluginLoader.h"
#include "RecordingHistorySpi.h"

namespace orvex {
namespace test {
namespace {

constexpr std::chrono::seconds kDeliveryWait{60};
constexpr const char* kRangePath = "/QryCodeType";
constexpr const char* kPagePath = "/QryPageTgtDetailV2";

// A record as the tests compare it: its time and its data text.
using RecordId = std::pair<int64_t, std::string>;

RecordId idOf(const TopicBody& body) { return {body.time, body.data}; }

// The records of (target, key) with begin <= time <= end, in the store's (ascending) order.
std::vector<RecordId> storedRange(const hqserver::DataStore& store, const std::string& target,
                                  const std::string& key, int64_t begin, int64_t end) {
  std::vector<RecordId> ids;
  const hqserver::Series* series = store.find(target, key);
  for (size_t i = 0; series != nullptr && i < series->records.size(); ++i) {
    const TopicBody& body = series->records[i].body;
    if (body.time >= begin && body.time <= end) ids.push_back(idOf(body));
  }
  return ids;
}

// The records of a range request's deliveries in ascending order: the batches arrive newest
// block first, each block ascending.
std::vector<RecordId> rangeRecords(const std::vector<Delivery>& deliveries) {
  std::vector<RecordId> ids;
  for (auto d = deliveries.rbegin(); d != deliveries.rend(); ++d) {
    for (const CloudTopic& topic : d->topics) {
      for (const TopicBody& body : topic.bodies) ids.push_back(idOf(body));
    }
  }
  return ids;
}

std::vector<size_t> batchSizes(const std::vector<Delivery>& deliveries) {
  std::vector<size_t> sizes;
  for (const Delivery& d : deliveries) sizes.push_back(d.bodyCount());
  return sizes;
}

// Service CSV lines for times first.. of one series: modification time time + 7, data "r<time>".
std::string csvLines(const std::string& target, const std::string& key, int64_t first,
                     int64_t count) {
  std::string csv;
  for (int64_t t = first; t < first + count; ++t) {
    csv += target + "," + key + "," + std::to_string(t) + "," + std::to_string(t + 7) + ",1.25,r" +
           std::to_string(t) + "\n";
  }
  return csv;
}

// The plug-in loaded and one wrapper made through the factory, with two pools.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(loader.ok()) << loader.error();
    api = loader.create();
    ASSERT_NE(api, nullptr);
    ASSERT_EQ(api->init(2).code, OK);
  }
  // The wrapper goes before the services, so its kept-alive connections are closed by the client
  // rather than cut by a stopping server; it runs its queued deliveries before the spi goes.
  void TearDown() override { api.reset(); }

  // Starts the local service on `store` and connects to it.
  void serve(std::shared_ptr<const hqserver::DataStore> store,
             hqserver::ServerOptions options = {}) {
    service = std::make_unique<LocalService>(options, std::move(store));
    ASSERT_EQ(api->connect(service->url()).code, OK);
  }

  // Checks what every range request must satisfy and returns its deliveries.
  std::vector<Delivery> finishedRange(int32_t requestId, const ResultStatus& result) {
    EXPECT_TRUE(spi.waitForLast(requestId, kDeliveryWait)) << requestId;
    std::vector<Delivery> got = spi.deliveries(requestId);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].requestId, requestId);
      EXPECT_EQ(got[i].mtmValue, 0);
      EXPECT_EQ(got[i].isLast, i + 1 == got.size()) << i;
      EXPECT_NE(got[i].thread, std::this_thread::get_id());
      EXPECT_EQ(got[i].thread, got[0].thread);  // one pool serves the whole request
    }
    if (!got.empty()) {
      EXPECT_TRUE(got.back().topics.empty());
      EXPECT_EQ(got.back().status.code, result.code);
      EXPECT_EQ(got.back().status.msg, result.msg);
    }
    return got;
  }

  PluginLoader loader;
  RecordingHistorySpi spi;
  std::unique_ptr<LocalService> service;
  std::unique_ptr<IHistoryApi> api;
  bool cancel = false;
};

// Series T holds times 1..3000 and a second record at 2001, the earliest time of the first full
// step of a 2500-record walk, so that walk skips it. Series U holds times 1..1500.
std::shared_ptr<const hqserver::DataStore> walkData() {
  return LocalService::fromCsv(csvLines("T", "k", 1, 3000) + "T,k,2001,9,1.5,r2001b\n" +
                               csvLines("U", "k", 1, 1500));
}

TEST_F(PluginTest, RangeRequestsDeliverTheStoredRecordsNewestStepFirst) {
  serve(walkData());
  struct Case {
    const char* target;
    int32_t maxCount;
    std::vector<size_t> sizes;     // of the deliveries
    int64_t from;                  // earliest time delivered
    std::vector<int64_t> skipped;  // times stored from `from` on but not delivered
  };
  const Case cases[] = {{"T", 2500, {1000, 1000, 500, 0}, 501, {2001}},
                        {"U", 100000, {1000, 500, 0}, 1, {}}};  // the short step ends the run
  int32_t requestId = -17;  // a negative number comes back unchanged as well
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const uint64_t calls = service->requestCount(kRangePath);
    const ResultStatus result =
        api->reqData(TopicReq{"k", {c.target}, 1, 100000, c.maxCount, 0}, &spi, requestId, cancel);
    EXPECT_EQ(result.code, OK);
    const std::vector<Delivery> got = finishedRange(requestId++, result);
    EXPECT_EQ(batchSizes(got), c.sizes);
    EXPECT_EQ(service->requestCount(kRangePath) - calls, c.sizes.size() - 1);

    // In order, without duplicate, and without a gap but the skipped ties.
    const std::vector<RecordId> delivered = rangeRecords(got);
    const std::set<RecordId> unique(delivered.begin(), delivered.end());
    std::vector<RecordId> expected;
    std::vector<int64_t> missing;
    for (const RecordId& id : storedRange(service->store(), c.target, "k", c.from, 100000)) {
      if (unique.count(id) != 0) expected.push_back(id);
      if (unique.count(id) == 0) missing.push_back(id.first);
    }
    EXPECT_EQ(delivered, expected);
    EXPECT_EQ(missing, c.skipped);
  }
}

TEST_F(PluginTest, CancelOnEntryMakesNoCall) {
  serve(walkData());
  cancel = true;
  const ResultStatus range = api->reqData(TopicReq{"k", {"T"}, 1, 100, 10, 0}, &spi, 1, cancel);
  const ResultStatus page =
      api->reqData(TopicReq{"k", {"T"}, 1, 100, 10, ByModifyTime}, &spi, 2, cancel);
  EXPECT_EQ(range.code, OK);
  EXPECT_EQ(page.code, OK);
  EXPECT_EQ(finishedRange(1, range).size(), 1u);  // only the final batch
  api->release();                                 // runs whatever was queued
  EXPECT_TRUE(spi.deliveries(2).empty());
  EXPECT_EQ(service->requestCount(kRangePath) + service->requestCount(kPagePath), 0u);
}

TEST_F(PluginTest, GetDataPutsTheFetchedRecordsInFrontOfThoseHeld) {
  serve(walkData());
  CloudTopic out;
  out.bodies.push_back(TopicBody{9000, 0.0, "held"});

  EXPECT_EQ(api->getData(TopicKey{"U", "k"}, 1, 1400, 1200, out).code, OK);

  EXPECT_EQ(out.target + "@" + out.key, "U@k");
  EXPECT_EQ(service->requestCount(kRangePath), 2u);  // 1000, then 200
  std::vector<RecordId> expected = storedRange(service->store(), "U", "k", 201, 1400);
  expected.emplace_back(9000, "held");
  std::vector<RecordId> got;
  for (const TopicBody& body : out.bodies) got.push_back(idOf(body));
  EXPECT_EQ(got, expected);
  EXPECT_EQ(spi.count(), 0u);  // answered on this thread, not through an IHistorySpi
}

// Makes `settings` the service's only fault rule.
void setFault(LocalService& service, const std::string& settings) {
  std::string error;
  auto rule = hqserver::FaultRule::parse(settings, error);
  ASSERT_TRUE(rule) << error;
  service.faults().clear();
  service.faults().add(*rule);
}

TEST_F(PluginTest, CancelFromAnotherThreadStopsAfterTheStepInProgress) {
  serve(walkData());
  // The second step is held back long enough for the host to cancel while it is awaited.
  setFault(*service, "kind=delay,ms=500,path=/QryCodeType,every=2");

  ResultStatus result;
  std::thread host([&] {
    result = api->reqData(TopicReq{"k", {"T"}, 1, 3000, 100000, 0}, &spi, 4, cancel);
  });
  const auto deadline = std::chrono::steady_clock::now() + kDeliveryWait;
  while (service->requestCount(kRangePath) < 2 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  setCancelFlag(cancel, true);
  host.join();

  EXPECT_EQ(result.code, OK);
  EXPECT_EQ(batchSizes(finishedRange(4, result)), (std::vector<size_t>{1000, 1000, 0}));
  EXPECT_EQ(service->requestCount(kRangePath), 2u);
}

TEST_F(PluginTest, LastDataAsksInBatchesOfFiveHundredInOrder) {
  serve(LocalService::fromCsv("t0,k,1,1,1.0,x\nt1000,k,3,3,1.0,z\nt1199,k,4,4,1.0,w\n"));
  setFault(*service, "kind=status,code=500,path=/QryLast,every=2");
  std::vector<std::string> targets;
  for (int i = 0; i < 1200; ++i) targets.push_back("t" + std::to_string(i));
  std::vector<CloudTopic> out(1);
  out[0].target = "held";

  // The failed middle batch is the result; the others' records are appended in order.
  EXPECT_NE(api->getLastData("k", targets, out).code, OK);

  std::vector<std::string> got;
  for (const CloudTopic& topic : out) got.push_back(topic.target);
  EXPECT_EQ(got, (std::vector<std::string>{"held", "t0", "t1000", "t1199"}));
  std::string asked;  // the codes of each request, each code followed by a comma
  for (const LoggedRequest& request : service->requests("/QryLast")) {
    for (const auto& entry : Poco::URI(request.uri).getQueryParameters()) {
      if (entry.first == "codes") asked += entry.second + "|";
    }
  }
  std::string expected;
  for (int i = 0; i < 1200; ++i)
    expected += targets[i] + (i % 500 == 499 || i == 1199 ? ",|" : ",");
  EXPECT_EQ(asked, expected);
}

TEST_F(PluginTest, ConnectFailsOnTheHeartbeatAndKeepsTheNameOfTheLastGoodAnswer) {
  hqserver::ServerOptions named;
  named.name = "s1";
  serve(walkData(), named);
  EXPECT_EQ(api->getServerName(), "s1");

  setFault(*service, "kind=garbage,path=/getServerVersion");
  const ResultStatus notJson = api->connect(service->url());
  EXPECT_EQ(notJson.code, UNKNOWN);
  EXPECT_EQ(notJson.msg, "json\xBD\xE2\xCE\xF6\xCA\xA7\xB0\xDC");  // "json解析失败" in GBK
  EXPECT_EQ(api->getServerName(), "s1");

  // A failed heartbeat is returned without asking for the name.
  setFault(*service, "kind=status,path=/HeartBeat");
  const uint64_t asked = service->requestCount("/getServerVersion");
  EXPECT_NE(api->connect(service->url()).code, OK);
  EXPECT_EQ(service->requestCount("/getServerVersion"), asked);
}

}  // namespace
}  // namespace test
}  // namespace orvex
