// Page requests through the loaded plug-in against the local service, which pages its answers
// and marks the last page.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "E2eSupport.h"

namespace orvex {
namespace test {
namespace {

constexpr const char* kPagePath = "/QryPageTgtDetailV2";

// Three targets of key "m" and one of another key; modification time is time + 7.
std::shared_ptr<const hqserver::DataStore> pagedData() {
  return LocalService::fromCsv(
      csvLines("a", "m", timesFrom(100, 200)) + csvLines("b", "m", timesFrom(150, 250)) +
      csvLines("c", "m", timesFrom(100, 50)) + csvLines("a", "other", timesFrom(100, 50)));
}

hqserver::ServerOptions smallPages() {
  hqserver::ServerOptions options;
  options.pageSize = 100;
  return options;
}

using PagedRecord = std::tuple<std::string, int64_t, std::string>;

class PageRequestTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(api->connect(service.url()).code, OK);
  }
  LocalService service{smallPages(), pagedData()};
};

TEST_F(PageRequestTest, WalksEveryPageWithTheMarksOfPageZero) {
  // Modification times 150..300 select a: times 143..293, and b: times 150..293.
  const int64_t beginMtm = 150;
  const int64_t endMtm = 300;
  const TopicReq req = makeReq("m", {"b", "a"}, beginMtm, endMtm, 1, ByModifyTime);

  const ResultStatus result = api->reqData(req, &spi, 21, cancel);

  EXPECT_EQ(result.code, OK);
  ASSERT_TRUE(spi.waitForLast(21, kDeliveryWait));
  const std::vector<Delivery> got = spi.deliveries(21);

  // What the service selects: targets a and b, ordered by target then time.
  std::vector<PagedRecord> expected;
  int64_t maxMtm = 0;
  for (const std::string target : {"a", "b"}) {
    const hqserver::Series* series = service.store().find(target, "m");
    ASSERT_NE(series, nullptr);
    for (const hqserver::StoredRecord& r : series->records) {
      if (r.mtm < beginMtm || r.mtm > endMtm) continue;
      expected.emplace_back(target, r.body.time, r.body.data);
      maxMtm = std::max(maxMtm, r.mtm);
    }
  }
  const size_t pages = (expected.size() + 99) / 100;
  ASSERT_EQ(got.size(), pages);
  EXPECT_EQ(service.requestCount(kPagePath), pages);

  std::vector<PagedRecord> delivered;
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].requestId, 21);
    EXPECT_EQ(got[i].mtmValue, maxMtm) << "page " << i;
    EXPECT_EQ(got[i].isLast, i + 1 == got.size()) << "page " << i;
    EXPECT_EQ(got[i].status.code, OK);
    EXPECT_NE(got[i].thread, std::this_thread::get_id());
    for (const CloudTopic& topic : got[i].topics) {
      EXPECT_EQ(topic.key, "m");
      for (const TopicBody& body : topic.bodies) {
        delivered.emplace_back(topic.target, body.time, body.data);
      }
    }
  }
  EXPECT_EQ(delivered, expected);
}

TEST_F(PageRequestTest, ServiceFailureEndsTheRunWithoutALastBatch) {
  std::string error;
  auto rule =
      hqserver::FaultRule::parse("kind=status,code=500,path=/QryPageTgtDetailV2,every=2", error);
  ASSERT_TRUE(rule.has_value()) << error;
  service.faults().add(*rule);

  const ResultStatus result =
      api->reqData(makeReq("m", {"a", "b", "c"}, 0, 1000, 0, ByModifyTime), &spi, 22, cancel);

  EXPECT_NE(result.code, OK);
  api->release();  // runs the queued deliveries
  const std::vector<Delivery> got = spi.deliveries(22);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].status.code, OK);
  EXPECT_EQ(got[0].bodyCount(), 100u);
  EXPECT_EQ(got[1].status.code, result.code);
  EXPECT_EQ(got[1].status.msg, result.msg);
  EXPECT_EQ(got[1].mtmValue, got[0].mtmValue);
  for (const Delivery& d : got) EXPECT_FALSE(d.isLast);
}

}  // namespace
}  // namespace test
}  // namespace orvex
