// The synchronous lookups through the loaded plug-in.
#include <Poco/URI.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "E2eSupport.h"
#include "ScriptedHttpServer.h"

namespace orvex {
namespace test {
namespace {

std::vector<std::string> manyTargets(size_t n) {
  std::vector<std::string> targets;
  for (size_t i = 0; i < n; ++i) targets.push_back("t" + std::to_string(i));
  return targets;
}

// The codes a "/QryLast" request asked for, in order.
std::vector<std::string> codesOf(const RecordedRequest& request) {
  std::string codes;
  for (const auto& entry : Poco::URI("/?" + request.query).getQueryParameters()) {
    if (entry.first == "codes") codes = entry.second;
  }
  std::vector<std::string> list;
  size_t start = 0;
  while (start < codes.size()) {
    size_t comma = codes.find(',', start);
    if (comma == std::string::npos) comma = codes.size();
    if (comma > start) list.push_back(codes.substr(start, comma - start));
    start = comma + 1;
  }
  return list;
}

class ScriptedLookupTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(api->connect(server.url()).code, OK);
    server.clear();
  }
  ScriptedHttpServer server;
};

TEST_F(ScriptedLookupTest, LastDataAsksInBatchesOfFiveHundredInOrder) {
  server.script("/QryLast", ScriptedAnswer::ok("t0,1,1.0,x\n"));
  server.script("/QryLast", ScriptedAnswer::withStatus(500));
  server.script("/QryLast", ScriptedAnswer::ok("t1000,3,1.0,z\nt1199,4,1.0,w\n"));
  const std::vector<std::string> targets = manyTargets(1200);
  std::vector<CloudTopic> out(1);
  out[0].target = "held";

  const ResultStatus result = api->getLastData("k", targets, out);

  const std::vector<RecordedRequest> requests = server.requestsTo("/QryLast");
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(codesOf(requests[0]), std::vector<std::string>(targets.begin(), targets.begin() + 500));
  EXPECT_EQ(codesOf(requests[1]),
            std::vector<std::string>(targets.begin() + 500, targets.begin() + 1000));
  EXPECT_EQ(codesOf(requests[2]), std::vector<std::string>(targets.begin() + 1000, targets.end()));
  // The failed middle batch is the result; the other batches' records are appended in order.
  EXPECT_NE(result.code, OK);
  std::vector<std::string> got;
  for (const CloudTopic& topic : out) got.push_back(topic.target);
  EXPECT_THAT(got, ::testing::ElementsAre("held", "t0", "t1000", "t1199"));
}

TEST_F(ScriptedLookupTest, LastDataWithoutTargetsSendsNothing) {
  std::vector<CloudTopic> out(2);
  EXPECT_EQ(api->getLastData("k", {}, out).code, OK);
  EXPECT_EQ(out.size(), 2u);
  EXPECT_TRUE(server.requests().empty());
}

class LookupTest : public PluginTest {
 protected:
  static std::shared_ptr<const hqserver::DataStore> data() {
    return LocalService::fromCsv(csvLines("T", "k", timesFrom(1, 3000)) +
                                 csvLines("U", "k", timesFrom(10, 5)));
  }
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(api->connect(service.url()).code, OK);
  }
  LocalService service{hqserver::ServerOptions(), data()};
};

TEST_F(LookupTest, LastDataOfKnownTargetsAmongManyUnknownOnes) {
  std::vector<std::string> targets = manyTargets(1200);
  targets[3] = "U";
  targets[777] = "T";
  std::vector<CloudTopic> out;
  EXPECT_EQ(api->getLastData("k", targets, out).code, OK);
  EXPECT_EQ(service.requestCount("/QryLast"), 3u);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].target, "U");
  ASSERT_EQ(out[0].bodies.size(), 1u);
  EXPECT_EQ(out[0].bodies[0].time, 14);
  EXPECT_EQ(out[1].target, "T");
  ASSERT_EQ(out[1].bodies.size(), 1u);
  EXPECT_EQ(out[1].bodies[0].time, 3000);
}

TEST_F(LookupTest, GetDataPutsTheFetchedRecordsInFrontOfThoseHeld) {
  CloudTopic out;
  out.bodies.resize(2);
  out.bodies[0].time = 9000;
  out.bodies[0].data = "old0";
  out.bodies[1].time = 9001;
  out.bodies[1].data = "old1";

  const ResultStatus result = api->getData(TopicKey{"T", "k"}, 1, 2800, 1500, out);

  EXPECT_EQ(result.code, OK);
  EXPECT_EQ(out.target, "T");
  EXPECT_EQ(out.key, "k");
  EXPECT_EQ(service.requestCount("/QryCodeType"), 2u);  // 1000, then 500
  std::vector<RecordId> expected = storedRange(service.store(), "T", "k", 1301, 2800);
  expected.emplace_back(9000, "old0");
  expected.emplace_back(9001, "old1");
  std::vector<RecordId> got;
  for (const TopicBody& body : out.bodies) got.push_back(idOf(body));
  EXPECT_EQ(got, expected);
  // Nothing goes to an IHistorySpi: the lookup is answered on this thread.
  EXPECT_EQ(spi.count(), 0u);
}

TEST_F(LookupTest, GetDataOfAnEmptyRangeLeavesTheBodies) {
  CloudTopic out;
  out.bodies.resize(1);
  out.bodies[0].data = "held";
  EXPECT_EQ(api->getData(TopicKey{"T", "k"}, 5000, 6000, 100, out).code, OK);
  ASSERT_EQ(out.bodies.size(), 1u);
  EXPECT_EQ(out.bodies[0].data, "held");
  EXPECT_EQ(out.target, "T");
}

TEST_F(LookupTest, DataCacheIsTheLatestRecordOfTheTopic) {
  CloudTopic out;
  EXPECT_EQ(api->getDataCache(TopicKey{"U", "k"}, out).code, OK);
  EXPECT_EQ(out.target, "U");
  EXPECT_EQ(out.key, "k");
  ASSERT_EQ(out.bodies.size(), 1u);
  EXPECT_EQ(out.bodies[0].time, 14);
}

}  // namespace
}  // namespace test
}  // namespace orvex
