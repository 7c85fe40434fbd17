// Bad input at the host interface: every call gives a clear status (or, where the input is merely
// unusual, a correct answer), the deliveries still agree with it, and nothing crashes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "ReliabilitySupport.h"
#include "orvex/Messages.h"

namespace orvex {
namespace test {
namespace reliability {
namespace {

using ::testing::IsEmpty;

const std::string kTarget = "R0.x";

// Target lists far beyond anything a service accepts in one URL.
std::vector<std::string> hugeTargetList(size_t n) {
  std::vector<std::string> targets;
  targets.reserve(n);
  for (size_t i = 0; i < n; ++i) targets.push_back("NX" + std::to_string(i));
  return targets;
}

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service = std::make_unique<LocalService>(hqserver::ServerOptions(), DataSet::store());
    ASSERT_TRUE(host.start(2, service->url()));
  }

  // A range request whose deliveries must agree with its result and hold the records the data
  // set has for it.
  ResultStatus range(const TopicReq& req) {
    const int32_t id = nextId++;
    bool cancel = false;
    const ResultStatus result = host.api().reqData(req, &host.spi(), id, cancel);
    EXPECT_TRUE(awaitRangeEnd(host.spi(), id));
    EXPECT_TRUE(rangeDeliveriesHold(
        host.spi().deliveries(id), result,
        DataSet::range(req.targets.at(0), req.key, req.beginTime, req.endTime, req.maxCount)));
    return result;
  }

  ResultStatus pages(const TopicReq& req) {
    const int32_t id = nextId++;
    bool cancel = false;
    const ResultStatus result = host.api().reqData(req, &host.spi(), id, cancel);
    EXPECT_TRUE(awaitPageEnd(host.spi(), id));
    EXPECT_TRUE(
        pageDeliveriesHold(host.spi().deliveries(id), result,
                           DataSet::pages(req.key, req.targets, req.beginTime, req.endTime)));
    return result;
  }

  // A request refused before anything is fetched: no delivery at all.
  ResultStatus refused(const TopicReq& req, IHistorySpi* spi) {
    const int32_t id = nextId++;
    bool cancel = false;
    const ResultStatus result = host.api().reqData(req, spi, id, cancel);
    host.api().release();  // runs whatever was queued, so that a stray delivery would show
    EXPECT_THAT(host.spi().deliveries(id), IsEmpty());
    EXPECT_EQ(host.api().init(2).code, OK);
    return result;
  }

  std::unique_ptr<LocalService> service;
  PluginHost host;
  int32_t nextId = 1;
};

TEST_F(BadInputTest, RangeRequestsWithMalformedKeysAndTargets) {
  const int64_t begin = DataSet::kBase;
  const int64_t end = DataSet::lastTickTime();
  EXPECT_TRUE(isClearFailure(range(makeReq("", {kTarget}, begin, end, 10))));

  const ResultStatus none = refused(makeReq("tick", {}, begin, end, 10), &host.spi());
  EXPECT_EQ(none.code, INVALID_PARAM);
  EXPECT_EQ(none.msg, msg::kOnlyOneTarget);
  const ResultStatus huge =
      refused(makeReq("tick", hugeTargetList(100000), begin, end, 10), &host.spi());
  EXPECT_EQ(huge.code, INVALID_PARAM);

  // Unknown or odd targets are no error: they simply hold no record.
  for (const std::string& odd :
       {std::string(), std::string("a,b"), std::string("%%"), std::string("line\nbreak"),
        std::string("\xd6\xd0\xce\xc4"), std::string(2000, 'x')}) {
    const ResultStatus result = range(makeReq("tick", {odd}, begin, end, 10));
    EXPECT_THAT(result.code, ::testing::AnyOf(OK, EN_ICE_NET_ERROR)) << result.msg;
  }
  // A target too long for any URL the service reads.
  EXPECT_TRUE(isClearFailure(range(makeReq("tick", {std::string(200000, 'y')}, begin, end, 10))));
}

TEST_F(BadInputTest, RangeRequestsWithInvertedAndExtremeTimesAndCounts) {
  const int64_t end = DataSet::lastTickTime();
  EXPECT_EQ(range(makeReq("tick", {kTarget}, end, DataSet::kBase, 100)).code, OK);
  EXPECT_EQ(range(makeReq("tick", {kTarget}, INT64_MAX, INT64_MIN, 100)).code, OK);
  EXPECT_EQ(range(makeReq("tick", {kTarget}, INT64_MIN, INT64_MAX, 3000)).code, OK);
  EXPECT_EQ(range(makeReq("tick", {kTarget}, INT64_MIN, INT64_MIN, 3000)).code, OK);
  EXPECT_EQ(range(makeReq("tick", {kTarget}, INT64_MAX, INT64_MAX, 3000)).code, OK);

  for (int32_t count : {INT32_MIN, -7, -1, 0, 1, INT32_MAX}) {
    SCOPED_TRACE(count);
    EXPECT_EQ(range(makeReq("tick", {kTarget}, INT64_MIN, INT64_MAX, count)).code, OK);
  }
}

TEST_F(BadInputTest, NullSpiIsRefusedBeforeAnythingIsFetched) {
  const uint64_t before = service->requestCount("/QryCodeType");
  const ResultStatus ranged =
      refused(makeReq("tick", {kTarget}, INT64_MIN, INT64_MAX, 10), nullptr);
  EXPECT_EQ(ranged.code, INVALID_PARAM);
  EXPECT_TRUE(isClearFailure(ranged));
  const ResultStatus paged =
      refused(makeReq("bar", {kTarget}, INT64_MIN, INT64_MAX, 10, ByModifyTime), nullptr);
  EXPECT_EQ(paged.code, INVALID_PARAM);
  EXPECT_EQ(service->requestCount("/QryCodeType"), before);
}

TEST_F(BadInputTest, PageRequestsWithMalformedInput) {
  EXPECT_TRUE(isClearFailure(pages(makeReq("", {kTarget}, 0, INT64_MAX, 0, ByModifyTime))));
  EXPECT_EQ(pages(makeReq("bar", {}, 0, INT64_MAX, 0, ByModifyTime)).code, OK);
  EXPECT_EQ(pages(makeReq("bar", {kTarget}, INT64_MAX, INT64_MIN, -1, ByModifyTime)).code, OK);
  EXPECT_EQ(pages(makeReq("bar", {kTarget}, INT64_MIN, INT64_MAX, INT32_MIN, ByModifyTime)).code,
            OK);
  // Every flag bit set still selects the page path.
  EXPECT_EQ(pages(makeReq("bar", {kTarget}, 0, INT64_MAX, 0, 0xFFFFFFFFu)).code, OK);
  EXPECT_TRUE(
      isClearFailure(pages(makeReq("bar", hugeTargetList(100000), 0, INT64_MAX, 0, ByModifyTime))));
}

TEST_F(BadInputTest, SynchronousLookupsWithMalformedInput) {
  std::vector<CloudTopic> out(1);
  EXPECT_EQ(host.api().getLastData("tick", {}, out).code, OK);
  EXPECT_EQ(out.size(), 1u) << "nothing sent, nothing appended";
  EXPECT_TRUE(isClearFailure(host.api().getLastData("", {kTarget}, out)));

  // Thousands of batches, the known targets scattered among unknown ones.
  std::vector<std::string> many = hugeTargetList(20000);
  many[7] = "R3.w";
  many[12345] = "R1.y";
  std::vector<CloudTopic> latest;
  EXPECT_EQ(host.api().getLastData("tick", many, latest).code, OK);
  EXPECT_EQ(idsOf(latest), DataSet::latest("tick", {"R3.w", "R1.y"}));

  for (int32_t count : {INT32_MIN, 0, INT32_MAX}) {
    CloudTopic range;
    EXPECT_EQ(
        host.api().getData(TopicKey{kTarget, "tick"}, INT64_MIN, INT64_MAX, count, range).code, OK);
    EXPECT_EQ(idsOf(range), DataSet::range(kTarget, "tick", INT64_MIN, INT64_MAX, count));
  }
  CloudTopic inverted;
  EXPECT_EQ(host.api().getData(TopicKey{kTarget, "tick"}, INT64_MAX, INT64_MIN, 5, inverted).code,
            OK);
  EXPECT_THAT(inverted.bodies, IsEmpty());
  CloudTopic noKey;
  EXPECT_TRUE(isClearFailure(host.api().getData(TopicKey{kTarget, ""}, 0, INT64_MAX, 5, noKey)));

  CloudTopic cached;
  EXPECT_TRUE(isClearFailure(host.api().getDataCache(TopicKey{"", "tick"}, cached)));
  EXPECT_TRUE(isClearFailure(host.api().getDataCache(TopicKey{kTarget, ""}, cached)));
  EXPECT_TRUE(isClearFailure(host.api().getDataCache(TopicKey{"NOT.THERE", "tick"}, cached)));
  EXPECT_THAT(cached.bodies, IsEmpty()) << "failures leave the out record alone";
}

TEST_F(BadInputTest, LifecycleCallsWithMalformedArguments) {
  EXPECT_EQ(host.api().init(0).code, INVALID_PARAM);
  EXPECT_EQ(host.api().init(-5).code, INVALID_PARAM);
  EXPECT_EQ(host.api().init(INT32_MIN).code, INVALID_PARAM);

  for (const std::string& address :
       {std::string(), std::string("http://127.0.0.1:1"), std::string("not an address"),
        std::string("http://[::1"), std::string("http://127.0.0.1:") + std::string(70000, '9'),
        std::string("http://127.0.0.1:99999"), std::string("http://127.0.0.1:-1")}) {
    SCOPED_TRACE(address.substr(0, 40));
    EXPECT_TRUE(isClearFailure(host.api().connect(address)));
  }
  // The wrapper comes back once it is given a working address.
  ASSERT_EQ(host.api().connect(service->url()).code, OK);
  EXPECT_EQ(range(makeReq("tick", {kTarget}, INT64_MIN, INT64_MAX, 1500)).code, OK);
}

TEST_F(BadInputTest, RequestsBeforeInitOrConnectAreAnsweredWithoutDeliveries) {
  PluginLoader loader;
  ASSERT_TRUE(loader.ok()) << loader.error();
  RecordingHistorySpi spi;
  std::unique_ptr<IHistoryApi> fresh = loader.create();
  ASSERT_NE(fresh, nullptr);
  bool cancel = false;

  // Not connected: no session can be had.
  const ResultStatus unconnected =
      fresh->reqData(makeReq("tick", {kTarget}, INT64_MIN, INT64_MAX, 10), &spi, 1, cancel);
  EXPECT_EQ(unconnected.code, EN_ICE_NET_ERROR);
  EXPECT_TRUE(isClearFailure(unconnected));
  std::vector<CloudTopic> out;
  EXPECT_TRUE(isClearFailure(fresh->getLastData("tick", {kTarget}, out)));

  // Connected but without pools: fetched and answered, deliveries dropped.
  ASSERT_EQ(fresh->connect(service->url()).code, OK);
  EXPECT_EQ(
      fresh->reqData(makeReq("tick", {kTarget}, INT64_MIN, INT64_MAX, 10), &spi, 2, cancel).code,
      OK);
  fresh.reset();
  EXPECT_EQ(spi.count(), 0u);
}

}  // namespace
}  // namespace reliability
}  // namespace test
}  // namespace orvex
