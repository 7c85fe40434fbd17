// The range driver against a scripted service: step sizes, the backwards cursor, the stop rules
// and the final batch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DriverTestSupport.h"
#include "LogCapture.h"

namespace marketdata {
namespace {

using orvex::test::ScriptedAnswer;
using ::testing::ElementsAre;

constexpr const char* kPath = "/QryCodeType";

orvex::TopicReq rangeReq(int64_t begin, int64_t end, int32_t maxCount) {
  orvex::TopicReq req;
  req.key = "tick";
  req.targets = {"SHFE.cu"};
  req.beginTime = begin;
  req.endTime = end;
  req.maxCount = maxCount;
  req.flags = orvex::Quote;
  return req;
}

class RangeDriverTest : public ConnectedWrapperTest {
 protected:
  std::vector<std::string> sent(const std::string& name) {
    std::vector<std::string> values;
    for (const auto& request : server.requestsTo(kPath)) values.push_back(param(request, name));
    return values;
  }
};

TEST_F(RangeDriverTest, FullStepsWalkBackwardsUntilMaxCount) {
  server.script(kPath, ScriptedAnswer::ok(bodyLines(9001, 10000)));
  server.script(kPath, ScriptedAnswer::ok(bodyLines(8001, 9000)));
  server.script(kPath, ScriptedAnswer::ok(bodyLines(7501, 8000)));

  orvex::ResultStatus status = range(rangeReq(1, 10000, 2500));

  EXPECT_EQ(status.code, orvex::OK);
  EXPECT_THAT(sent("count"), ElementsAre("1000", "1000", "500"));
  EXPECT_THAT(sent("endTime"), ElementsAre("10000", "9000", "8000"));
  EXPECT_THAT(sent("beginTime"), ElementsAre("1", "1", "1"));
  EXPECT_THAT(sent("codes"), ElementsAre("SHFE.cu", "SHFE.cu", "SHFE.cu"));
  ASSERT_EQ(batches.size(), 4u);
  EXPECT_EQ(batches[0].topics.front().bodies.front().time, 9001);
  EXPECT_EQ(batches[1].topics.front().bodies.front().time, 8001);
  EXPECT_EQ(batches[2].bodyCount(), 500u);
  for (size_t i = 0; i < 3; ++i) EXPECT_FALSE(batches[i].isLast) << i;
  EXPECT_TRUE(batches[3].isLast);
  EXPECT_TRUE(batches[3].topics.empty());
  for (const Batch& b : batches) EXPECT_EQ(b.mtmValue, 0);
}

TEST_F(RangeDriverTest, ShortStepEndsTheRun) {
  server.script(kPath, ScriptedAnswer::ok(bodyLines(2, 1000)));  // 999 of 1000
  orvex::ResultStatus status = range(rangeReq(1, 5000, 5000));
  EXPECT_EQ(status.code, orvex::OK);
  EXPECT_EQ(server.requestsTo(kPath).size(), 1u);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[0].bodyCount(), 999u);
  EXPECT_TRUE(batches[1].isLast);
}

TEST_F(RangeDriverTest, FullStepReachingTheBeginTimeEndsTheRun) {
  server.script(kPath, ScriptedAnswer::ok(bodyLines(100, 1099)));
  range(rangeReq(100, 1099, 5000));
  EXPECT_EQ(server.requestsTo(kPath).size(), 1u);
  EXPECT_EQ(batches.size(), 2u);
}

TEST_F(RangeDriverTest, EmptyAnswerEndsTheRun) {
  orvex::ResultStatus status = range(rangeReq(1, 10, 10));
  EXPECT_EQ(status.code, orvex::OK);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[0].bodyCount(), 0u);
  EXPECT_TRUE(batches[1].isLast);
}

TEST_F(RangeDriverTest, ZeroAndNegativeLimits) {
  // maxCount 0: one step asking for nothing, its batch, then the final batch.
  range(rangeReq(1, 10, 0));
  EXPECT_THAT(sent("count"), ElementsAre("0"));
  EXPECT_EQ(batches.size(), 2u);

  // maxSteps 0 or below: no service call, only the final batch with OK.
  for (int32_t maxSteps : {0, -3}) {
    server.clear();
    batches.clear();
    orvex::ResultStatus status = range(rangeReq(1, 10, 10), maxSteps);
    EXPECT_EQ(status.code, orvex::OK);
    EXPECT_TRUE(server.requestsTo(kPath).empty());
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_TRUE(batches[0].isLast);
    EXPECT_EQ(batches[0].status.code, orvex::OK);
  }
}

TEST_F(RangeDriverTest, LogsBeginEachStepAndEnd) {
  orvex::test::LogCapture capture;
  server.script(kPath, ScriptedAnswer::ok(bodyLines(1001, 2000)));
  server.script(kPath, ScriptedAnswer::ok(bodyLines(901, 1000)));
  range(rangeReq(1, 2000, 5000), 32767, 12);

  const auto lines = capture.linesContaining("reqDataByRange");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0],
            "[DEBUG] DaZaviVor reqDataByRange begin,requestId=12,key=tick,targetSize=1,"
            "firstTarget=SHFE.cu,beginTime=1,endTime=2000,maxCount=5000,flags=Quote");
  // The capture shows the title's full-width brackets transcoded, so only the rest is compared.
  EXPECT_EQ(lines[1].rfind("[DEBUG] DaZaviVor reqDataByRange from", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("history api"), std::string::npos);
  EXPECT_NE(lines[1].find(",requestId=12,reqSize=1000,rspSize=1000,time=["), std::string::npos);
  EXPECT_NE(lines[1].find("]=[1001,2000]"), std::string::npos);
  EXPECT_NE(lines[2].find(",requestId=12,reqSize=1000,rspSize=100,time=["), std::string::npos);
  EXPECT_NE(lines[2].find("]=[901,1000]"), std::string::npos);
  EXPECT_EQ(lines[3], "[DEBUG] DaZaviVor reqDataByRange end,requestId=12,OK@");
}

TEST_F(RangeDriverTest, WrongTargetCountIsRefusedSilently) {
  orvex::test::LogCapture capture;
  orvex::TopicReq req = rangeReq(1, 10, 10);
  req.targets = {"a", "b"};
  orvex::ResultStatus status = range(req);
  EXPECT_EQ(status.code, orvex::INVALID_PARAM);
  EXPECT_TRUE(batches.empty());
  EXPECT_TRUE(capture.lines().empty());
  EXPECT_TRUE(server.requestsTo(kPath).empty());
}

}  // namespace
}  // namespace marketdata
