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

std::vector<std::string> manyTargets(size_t n) {
  std::vector<std::string> targets;
  for (size_t i = 0; i < n; ++i) targets.push_back("NX" + std::to_string(i));
  return targets;
}

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.start(2)); }
  // Refused before anything is fetched: no delivery at all, even once the pools are drained.
  ResultStatus refused(const TopicReq& req, IHistorySpi* spi) {
    const uint64_t before = host.service->requestCount("/QryCodeType");
    bool cancel = false;
    const ResultStatus result = host.api->reqData(req, spi, 77, cancel);
    host.api->release();
    EXPECT_THAT(host.spi.deliveries(77), IsEmpty());
    EXPECT_EQ(host.service->requestCount("/QryCodeType"), before);
    EXPECT_EQ(host.api->init(2).code, OK);
    EXPECT_EQ(result.code, INVALID_PARAM);
    return result;
  }
  PluginHost host;
};

TEST_F(BadInputTest, RequestsWithMalformedKeysTargetsTimesAndCounts) {
  const int64_t b = DataSet::kBase, e = DataSet::lastTickTime();
  const uint32_t page = ByModifyTime;
  // Any failure carries a message; odd targets that hold nothing may also be a network error.
  const ::testing::Matcher<int32_t> clear = ::testing::Ne(OK),
                                    either = ::testing::AnyOf(OK, EN_ICE_NET_ERROR);
  const struct {
    TopicReq req;
    ::testing::Matcher<int32_t> code;
  } cases[] = {
      {{"", {kTarget}, b, e, 10}, clear},
      {{"tick", {""}, b, e, 10}, either},
      {{"tick", {"a,b"}, b, e, 10}, either},
      {{"tick", {"line\nbreak"}, b, e, 10}, either},
      {{"tick", {std::string(2000, 'x')}, b, e, 10}, either},
      {{"tick", {std::string(200000, 'y')}, b, e, 10}, clear},
      {{"tick", {kTarget}, INT64_MAX, INT64_MIN, 100}, OK},
      {{"tick", {kTarget}, INT64_MIN, INT64_MIN, 3000}, OK},
      {{"tick", {kTarget}, INT64_MAX, INT64_MAX, 3000}, OK},
      {{"tick", {kTarget}, INT64_MIN, INT64_MAX, INT32_MIN}, OK},
      {{"tick", {kTarget}, INT64_MIN, INT64_MAX, 1}, OK},
      {{"tick", {kTarget}, INT64_MIN, INT64_MAX, INT32_MAX}, OK},
      {{"", {kTarget}, 0, INT64_MAX, 0, page}, clear},
      {{"bar", {}, 0, INT64_MAX, 0, page}, OK},
      {{"bar", {kTarget}, INT64_MAX, INT64_MIN, -1, page}, OK},
      {{"bar", {kTarget}, 0, INT64_MAX, 0, 0xFFFFFFFFu}, OK},  // still the page path
      {{"bar", manyTargets(100000), 0, INT64_MAX, 0, page}, clear},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const ResultStatus result = host.run(cases[i].req, static_cast<int32_t>(i));
    EXPECT_THAT(result.code, cases[i].code) << result.msg;
    EXPECT_TRUE(result.ok() || isClearFailure(result));
  }
  EXPECT_EQ(refused(TopicReq{"tick", {}, b, e, 10}, &host.spi).msg, msg::kOnlyOneTarget);
  refused(TopicReq{"tick", manyTargets(100000), b, e, 10}, &host.spi);
  EXPECT_TRUE(isClearFailure(refused(TopicReq{"tick", {kTarget}, b, e, 10}, nullptr)));
}

TEST_F(BadInputTest, SynchronousLookupsWithMalformedInput) {
  std::vector<CloudTopic> out(1);
  EXPECT_EQ(host.api->getLastData("tick", {}, out).code, OK);
  EXPECT_EQ(out.size(), 1u) << "nothing sent, nothing appended";
  EXPECT_TRUE(isClearFailure(host.api->getLastData("", {kTarget}, out)));
}

TEST_F(BadInputTest, LifecycleCallsWithMalformedArguments) {
  for (const std::string& address :
       {std::string("not an address"), "http://127.0.0.1:" + std::string(70000, '9'),
        std::string("http://127.0.0.1:99999"), std::string("http://127.0.0.1:-1")}) {
    SCOPED_TRACE(address.substr(0, 40));
    EXPECT_TRUE(isClearFailure(host.api->connect(address)));
  }
  ASSERT_EQ(host.api->connect(host.service->url()).code, OK);  // back with a working address
  EXPECT_EQ(host.run(TopicReq{"tick", {kTarget}, INT64_MIN, INT64_MAX, 1500}, 1).code, OK);

  std::unique_ptr<IHistoryApi> api = host.loader.create();  // before init and connect
  ASSERT_NE(api, nullptr);
  bool cancel = false;
  EXPECT_EQ(api->reqData(TopicReq{"tick", {kTarget}, 1, 2, 10}, &host.spi, 2, cancel).code,
            EN_ICE_NET_ERROR);
  std::vector<CloudTopic> out;
  EXPECT_TRUE(isClearFailure(api->getLastData("tick", {kTarget}, out)));
}

}  // namespace
}  // namespace orvex::test::reliability
