// Bad input at the host interface: a clear status (or, where the input is merely unusual, a
// correct answer), deliveries that agree with it, and no crash.
#include <gmock/gmock.h>

#include <climits>

#include "ReliabilitySupport.h"
#include "orvex/Messages.h"

namespace orvex::test::reliability {
namespace {

using ::testing::IsEmpty;

const std::string kTarget = "R0.x";
constexpr int kClear = -1;   // any failure with a message
constexpr int kEither = -2;  // OK or a network error: odd targets that hold nothing

std::vector<std::string> manyTargets(size_t n) {
  std::vector<std::string> targets;
  for (size_t i = 0; i < n; ++i) targets.push_back("NX" + std::to_string(i));
  return targets;
}

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service = std::make_unique<LocalService>(hqserver::ServerOptions(), DataSet::store());
    ASSERT_TRUE(host.start(2, service->url()));
  }
  // Refused before anything is fetched: no delivery at all, even once the pools are drained.
  ResultStatus refused(const TopicReq& req, IHistorySpi* spi) {
    const uint64_t before = service->requestCount("/QryCodeType");
    bool cancel = false;
    const ResultStatus result = host.api->reqData(req, spi, 77, cancel);
    host.api->release();
    EXPECT_THAT(host.spi.deliveries(77), IsEmpty());
    EXPECT_EQ(service->requestCount("/QryCodeType"), before);
    EXPECT_EQ(host.api->init(2).code, OK);
    EXPECT_EQ(result.code, INVALID_PARAM);
    return result;
  }
  std::unique_ptr<LocalService> service;
  PluginHost host;
};

TEST_F(BadInputTest, RequestsWithMalformedKeysTargetsTimesAndCounts) {
  const int64_t b = DataSet::kBase, e = DataSet::lastTickTime();
  const uint32_t page = ByModifyTime;
  const struct {
    TopicReq req;
    int code;
  } cases[] = {
      {{"", {kTarget}, b, e, 10}, kClear},
      {{"tick", {""}, b, e, 10}, kEither},
      {{"tick", {"a,b"}, b, e, 10}, kEither},
      {{"tick", {"line\nbreak"}, b, e, 10}, kEither},
      {{"tick", {std::string(2000, 'x')}, b, e, 10}, kEither},
      {{"tick", {std::string(200000, 'y')}, b, e, 10}, kClear},
      {{"tick", {kTarget}, INT64_MAX, INT64_MIN, 100}, OK},
      {{"tick", {kTarget}, INT64_MIN, INT64_MIN, 3000}, OK},
      {{"tick", {kTarget}, INT64_MAX, INT64_MAX, 3000}, OK},
      {{"tick", {kTarget}, INT64_MIN, INT64_MAX, INT32_MIN}, OK},
      {{"tick", {kTarget}, INT64_MIN, INT64_MAX, 0}, OK},
      {{"tick", {kTarget}, INT64_MIN, INT64_MAX, 1}, OK},
      {{"tick", {kTarget}, INT64_MIN, INT64_MAX, INT32_MAX}, OK},
      {{"", {kTarget}, 0, INT64_MAX, 0, page}, kClear},
      {{"bar", {}, 0, INT64_MAX, 0, page}, OK},
      {{"bar", {kTarget}, INT64_MAX, INT64_MIN, -1, page}, OK},
      {{"bar", {kTarget}, INT64_MIN, INT64_MAX, INT32_MIN, page}, OK},
      {{"bar", {kTarget}, 0, INT64_MAX, 0, 0xFFFFFFFFu}, OK},  // still the page path
      {{"bar", manyTargets(100000), 0, INT64_MAX, 0, page}, kClear},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const ResultStatus result = host.run(cases[i].req, static_cast<int32_t>(i));
    if (cases[i].code == kClear) {
      EXPECT_TRUE(isClearFailure(result));
    } else if (cases[i].code == kEither) {
      EXPECT_THAT(result.code, ::testing::AnyOf(OK, EN_ICE_NET_ERROR)) << result.msg;
    } else {
      EXPECT_EQ(result.code, cases[i].code) << result.msg;
    }
  }
  EXPECT_EQ(refused(TopicReq{"tick", {}, b, e, 10}, &host.spi).msg, msg::kOnlyOneTarget);
  refused(TopicReq{"tick", manyTargets(100000), b, e, 10}, &host.spi);
  EXPECT_TRUE(isClearFailure(refused(TopicReq{"tick", {kTarget}, b, e, 10}, nullptr)));
  refused(TopicReq{"bar", {kTarget}, INT64_MIN, INT64_MAX, 10, page}, nullptr);
}

TEST_F(BadInputTest, SynchronousLookupsWithMalformedInput) {
  std::vector<CloudTopic> out(1);
  EXPECT_EQ(host.api->getLastData("tick", {}, out).code, OK);
  EXPECT_EQ(out.size(), 1u) << "nothing sent, nothing appended";
  EXPECT_TRUE(isClearFailure(host.api->getLastData("", {kTarget}, out)));
  // getData walks as reqData does: the counts and the empty key above hold for it too.
  CloudTopic cached;
  for (const TopicKey& key :
       {TopicKey{"", "tick"}, TopicKey{kTarget, ""}, TopicKey{"NOT.THERE", "tick"}}) {
    EXPECT_TRUE(isClearFailure(host.api->getDataCache(key, cached)));
  }
  EXPECT_THAT(cached.bodies, IsEmpty()) << "failures leave the out record alone";
}

TEST_F(BadInputTest, LifecycleCallsWithMalformedArguments) {
  for (int pools : {0, -5, INT32_MIN}) EXPECT_EQ(host.api->init(pools).code, INVALID_PARAM);
  for (const std::string& address :
       {std::string(), std::string("http://127.0.0.1:1"), std::string("not an address"),
        std::string("http://[::1"), "http://127.0.0.1:" + std::string(70000, '9'),
        std::string("http://127.0.0.1:99999"), std::string("http://127.0.0.1:-1")}) {
    SCOPED_TRACE(address.substr(0, 40));
    EXPECT_TRUE(isClearFailure(host.api->connect(address)));
  }
  ASSERT_EQ(host.api->connect(service->url()).code, OK);  // back with a working address
  EXPECT_EQ(host.run(TopicReq{"tick", {kTarget}, INT64_MIN, INT64_MAX, 1500}, 1).code, OK);

  PluginLoader loader;  // a wrapper before init and connect
  RecordingHistorySpi spi;
  std::unique_ptr<IHistoryApi> api = loader.create();
  ASSERT_NE(api, nullptr);
  const TopicReq req = TopicReq{"tick", {kTarget}, INT64_MIN, INT64_MAX, 10};
  bool cancel = false;
  EXPECT_EQ(api->reqData(req, &spi, 1, cancel).code, EN_ICE_NET_ERROR);
  std::vector<CloudTopic> out;
  EXPECT_TRUE(isClearFailure(api->getLastData("tick", {kTarget}, out)));
  // Connected but without pools: fetched and answered, deliveries dropped.
  ASSERT_EQ(api->connect(service->url()).code, OK);
  EXPECT_EQ(api->reqData(req, &spi, 2, cancel).code, OK);
  api.reset();
  EXPECT_EQ(spi.count(), 0u);
}

}  // namespace
}  // namespace orvex::test::reliability
