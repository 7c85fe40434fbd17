// The page driver against a scripted service: the request template, the marks of page 0 carried
// through the run, and the stop rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DriverTestSupport.h"
#include "LogCapture.h"

namespace marketdata {
namespace {

using orvex::test::ScriptedAnswer;
using ::testing::ElementsAre;

constexpr const char* kPath = "/QryPageTgtDetailV2";

orvex::TopicReq pageReq() {
  orvex::TopicReq req;
  req.key = "kline1m";
  req.targets = {"a", "b"};
  req.beginTime = 3;
  req.endTime = 99;
  req.maxCount = 1;  // not used on this path
  req.flags = orvex::ByModifyTime;
  return req;
}

ScriptedAnswer pageAnswer(int page, int64_t relation, int64_t nameMax, bool isLast,
                          std::string body) {
  return ScriptedAnswer::ok(std::move(body))
      .header("page", std::to_string(page))
      .header("relationmtm", std::to_string(relation))
      .header("namemaxmtm", std::to_string(nameMax))
      .header("islast", isLast ? "true" : "false");
}

class PageDriverTest : public ConnectedWrapperTest {
 protected:
  std::vector<std::string> sent(const std::string& name) {
    std::vector<std::string> values;
    for (const auto& request : server.requestsTo(kPath)) values.push_back(param(request, name));
    return values;
  }
};

TEST_F(PageDriverTest, CarriesTheMarksOfPageZeroUntilTheLastPage) {
  server.script(kPath, pageAnswer(1, 7, 9, false, topicLines("a", 1, 3)));
  server.script(kPath, pageAnswer(2, 70, 90, false, topicLines("b", 4, 5)));
  server.script(kPath, pageAnswer(3, 71, 91, true, topicLines("b", 6, 6)));

  orvex::ResultStatus status = page(pageReq());

  EXPECT_EQ(status.code, orvex::OK);
  EXPECT_THAT(sent("page"), ElementsAre("0", "1", "2"));
  EXPECT_THAT(sent("datamtm"), ElementsAre("0", "7", "7"));
  EXPECT_THAT(sent("tgt"), ElementsAre("a,b", "a,b", "a,b"));
  EXPECT_THAT(sent("type"), ElementsAre("kline1m", "kline1m", "kline1m"));
  EXPECT_THAT(sent("beginm"), ElementsAre("3", "3", "3"));
  EXPECT_THAT(sent("endm"), ElementsAre("99", "99", "99"));
  EXPECT_THAT(sent("beginTime"), ElementsAre("<absent>", "<absent>", "<absent>"));
  EXPECT_THAT(sent("endTime"),
              ElementsAre("9223372036854775807", "9223372036854775807", "9223372036854775807"));
  ASSERT_EQ(batches.size(), 3u);
  for (const Batch& b : batches) EXPECT_EQ(b.mtmValue, 9);
  EXPECT_FALSE(batches[0].isLast);
  EXPECT_FALSE(batches[1].isLast);
  EXPECT_TRUE(batches[2].isLast);  // the last page's own batch; no extra final batch
  ASSERT_EQ(batches[0].topics.size(), 1u);
  EXPECT_EQ(batches[0].topics[0].target, "a");
  EXPECT_EQ(batches[0].topics[0].bodies.size(), 3u);
}

TEST_F(PageDriverTest, FailedPageZeroCarriesNoMarksAndEndsTheRun) {
  // The failed answer's marks must not be taken over.
  server.script(kPath, ScriptedAnswer::withStatus(503)
                           .header("page", "1")
                           .header("relationmtm", "7")
                           .header("namemaxmtm", "9"));
  orvex::ResultStatus status = page(pageReq());
  EXPECT_NE(status.code, orvex::OK);
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].mtmValue, 0);
  EXPECT_EQ(batches[0].status.code, status.code);
  EXPECT_EQ(server.requestsTo(kPath).size(), 1u);
}

TEST_F(PageDriverTest, FailureOnALaterPageKeepsTheMarks) {
  server.script(kPath, pageAnswer(1, 7, 9, false, topicLines("a", 1, 1)));
  server.script(kPath, ScriptedAnswer::withStatus(500));
  orvex::ResultStatus status = page(pageReq());
  EXPECT_NE(status.code, orvex::OK);
  ASSERT_EQ(batches.size(), 2u);
  EXPECT_EQ(batches[1].mtmValue, 9);
  EXPECT_EQ(batches[1].status.code, status.code);
  EXPECT_FALSE(batches[1].isLast);
}

TEST_F(PageDriverTest, StopsAfterMaxStepsWithoutALastBatch) {
  server.setDefaultAnswer(kPath, pageAnswer(1, 7, 9, false, ""));
  orvex::ResultStatus status = page(pageReq(), 4);
  EXPECT_EQ(status.code, orvex::OK);
  EXPECT_EQ(server.requestsTo(kPath).size(), 4u);
  ASSERT_EQ(batches.size(), 4u);
  for (const Batch& b : batches) EXPECT_FALSE(b.isLast);
}

TEST_F(PageDriverTest, CancelOnEntryMakesNoCall) {
  orvex::test::LogCapture capture;
  cancel = true;
  orvex::ResultStatus status = page(pageReq());
  EXPECT_EQ(status.code, orvex::OK);
  EXPECT_TRUE(batches.empty());
  EXPECT_TRUE(server.requestsTo(kPath).empty());
  EXPECT_THAT(capture.lines(),
              ElementsAre("[DEBUG] DaZaviVor reqDataByPage begin,requestId=5,key=kline1m,"
                          "targetSize=2,firstTarget=a,beginTime=3,endTime=99,maxCount=1,"
                          "flags=ByModifyTime",
                          "[DEBUG] DaZaviVor reqDataByPage end,requestId=5,OK@"));
}

TEST_F(PageDriverTest, CancelDuringAPageLogsTheCancelLine) {
  server.setDefaultAnswer(kPath, pageAnswer(1, 7, 9, false, ""));
  orvex::test::LogCapture capture;
  after = [this] { orvex::setCancelFlag(cancel, true); };
  page(pageReq());
  EXPECT_EQ(batches.size(), 1u);
  const auto lines = capture.linesContaining("reqDataByPage");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].rfind("[DEBUG] DaZaviVor reqDataByPage rsp,requestId=5,OK@,page=1,isLast=0,"
                           "relationMtm=7,nameMaxMtm=9,size=0,costMs=",
                           0),
            0u)
      << lines[1];
  EXPECT_EQ(lines[2], "[DEBUG] DaZaviVor reqDataByPage cancel,requestId=5OK@");
  EXPECT_EQ(lines[3], "[DEBUG] DaZaviVor reqDataByPage end,requestId=5,OK@");
}

}  // namespace
}  // namespace marketdata
