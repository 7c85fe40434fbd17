// The record queries: the request texts they send, how answers become records, and their
// failure messages.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "ClientTestSupport.h"
#include "LogCapture.h"

namespace orvex {
namespace test {
namespace {

using ::testing::SizeIs;

class QueriesTest : public ClientTest {
 protected:
  void SetUp() override { start(); }

  std::vector<std::string> targets() const {
    std::vector<std::string> sent;
    for (const RecordedRequest& r : server.requests()) sent.push_back(r.target);
    return sent;
  }

  // The message the exchange itself gives a 403 for `target`.
  std::string exchangeMessageOf403(const std::string& target) {
    server.script(target.substr(0, target.find('?')), ScriptedAnswer::withStatus(403));
    std::string rsp;
    std::string msg = api.getRequest(Poco::URI(target), {}, 1, rsp).msg;
    server.clear();
    return msg;
  }
};

TEST_F(QueriesTest, LatestDataRequestsEncodeTheCodesWithATrailingComma) {
  std::vector<CloudTopic> out;
  CloudTopic cached;
  api.getLastData("k", {"a", "b"}, out);
  api.getLastData("k", {}, out);
  api.getDataCache(TopicKey{"a", "k"}, cached);
  EXPECT_THAT(targets(),
              ::testing::ElementsAre("/QryLast?codes=a%2Cb%2C&types=k", "/QryLast?codes=&types=k",
                                     "/QryLast?codes=a%2C&types=ce_k"));
}

TEST_F(QueriesTest, RangeRequestsSendTheRangeAsGiven) {
  std::vector<CloudTopic> out;
  int64_t unused = 42;
  api.getDataByRange(TopicReq{"k", {"a"}, 1, 2, 100, 0}, unused, out);
  api.getDataByRange(TopicReq{"k", {"a"}, 3, 3, -7, 0}, unused, out);
  api.getDataByRange(TopicReq{"k", {"a"}, -5, -1, 1, 0}, unused, out);
  EXPECT_THAT(targets(), ::testing::ElementsAre(
                             "/QryCodeType?types=k&codes=a&count=100&beginTime=1&endTime=2",
                             "/QryCodeType?types=k&codes=a&count=0&beginTime=3&endTime=3",
                             "/QryCodeType?types=k&codes=a&count=1&beginTime=-5&endTime=-1"));
  EXPECT_EQ(unused, 42);
}

TEST_F(QueriesTest, PageRequestsSendOptionalParametersOnlyWhenPositive) {
  std::vector<CloudTopic> out;
  PageResponse rsp;
  PageReq example;
  example.page = 1;
  example.targets = {"a", "b"};
  example.type = "k";
  example.endTime = 9;
  example.endMtm = 5;
  api.getDataByPage(example, rsp, out);

  PageReq full;
  full.type = "k";
  full.beginTime = 1;
  full.endTime = std::numeric_limits<int64_t>::max();
  full.beginMtm = 3;
  full.endMtm = -1;
  full.dataMtm = 4;
  full.page = 2;
  api.getDataByPage(full, rsp, out);

  PageReq negative = full;
  negative.beginTime = -1;
  negative.beginMtm = 0;
  api.getDataByPage(negative, rsp, out);

  EXPECT_THAT(targets(),
              ::testing::ElementsAre(
                  "/QryPageTgtDetailV2?type=k&tgt=a%2Cb&endTime=9&endm=5&datamtm=0&page=1",
                  "/QryPageTgtDetailV2?type=k&beginTime=1&endTime=9223372036854775807&beginm=3"
                  "&endm=-1&datamtm=4&page=2",
                  "/QryPageTgtDetailV2?type=k&endTime=9223372036854775807&endm=-1&datamtm=4"
                  "&page=2"));
}

TEST_F(QueriesTest, AnswersBecomeRecords) {
  server.script("/QryLast", ScriptedAnswer::ok("a,1,1.5,x\nb,2,2.5,y"));
  std::vector<CloudTopic> latest;
  ASSERT_TRUE(api.getLastData("k", {"a", "b"}, latest).ok());
  ASSERT_THAT(latest, SizeIs(2));
  EXPECT_EQ(latest[1].target, "b");
  EXPECT_EQ(latest[1].key, "k");

  // The cache lookup converts under the key without its prefix and keeps the first record.
  server.script("/QryLast", ScriptedAnswer::ok("a,7,1,x\nz,8,1,y"));
  CloudTopic cached;
  ASSERT_TRUE(api.getDataCache(TopicKey{"a", "k"}, cached).ok());
  EXPECT_EQ(cached.target, "a");
  EXPECT_EQ(cached.key, "k");
  ASSERT_THAT(cached.bodies, SizeIs(1));
  EXPECT_EQ(cached.bodies[0].time, 7);

  // A range answer is appended as one more topic.
  server.script("/QryCodeType", ScriptedAnswer::ok("1,1,x\n2,2,y"));
  std::vector<CloudTopic> range(1);
  int64_t unused = 5;
  ASSERT_TRUE(api.getDataByRange(TopicReq{"k", {"a"}, 1, 2, 10, 0}, unused, range).ok());
  ASSERT_THAT(range, SizeIs(2));
  EXPECT_EQ(range[1].target, "a");
  EXPECT_EQ(range[1].key, "k");
  EXPECT_THAT(range[1].bodies, SizeIs(2));
}

TEST_F(QueriesTest, ReversedRangeSendsNothingButStillAppendsAnEmptyTopic) {
  std::vector<CloudTopic> out;
  int64_t unused = 0;
  ResultStatus status = api.getDataByRange(TopicReq{"k", {"a"}, 5, 4, 10, 0}, unused, out);
  EXPECT_TRUE(status.ok());
  EXPECT_THAT(server.requests(), SizeIs(0));
  ASSERT_THAT(out, SizeIs(1));
  EXPECT_THAT(out[0].bodies, SizeIs(0));
}

TEST_F(QueriesTest, RangeNeedsExactlyOneTarget) {
  std::vector<CloudTopic> out;
  int64_t unused = 9;
  for (auto list : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
    ResultStatus status = api.getDataByRange(TopicReq{"k", list, 1, 2, 10, 0}, unused, out);
    EXPECT_EQ(status.code, INVALID_PARAM);
    EXPECT_EQ(status.msg, gbk::kOnlyOneTarget);
  }
  EXPECT_THAT(server.requests(), SizeIs(0));
  EXPECT_THAT(out, SizeIs(0));
  EXPECT_EQ(unused, 9);
}

TEST_F(QueriesTest, UnreadableAnswersAreParseFailures) {
  const std::string garbage = "not a record";
  server.setDefaultAnswer(ScriptedAnswer::ok(garbage));
  std::vector<CloudTopic> out;
  int64_t unused = 0;
  PageResponse page;
  EXPECT_EQ(api.getLastData("k", {"a"}, out).msg, gbk::kParseFailed);
  EXPECT_EQ(api.getDataByRange(TopicReq{"k", {"a"}, 1, 2, 1, 0}, unused, out).msg,
            gbk::kParseFailed);
  ResultStatus paged = api.getDataByPage(PageReq{}, page, out);
  EXPECT_EQ(paged.code, UNKNOWN);
  EXPECT_EQ(paged.msg, gbk::kPageParseFailed);
  EXPECT_THAT(out, SizeIs(0));

  CloudTopic cached;
  cached.target = "untouched";
  EXPECT_EQ(api.getDataCache(TopicKey{"a", "k"}, cached).msg, gbk::kParseFailed);
  server.setDefaultAnswer(ScriptedAnswer::ok(""));
  ResultStatus none = api.getDataCache(TopicKey{"a", "k"}, cached);
  EXPECT_EQ(none.code, UNKNOWN);
  EXPECT_EQ(none.msg, gbk::kNoDataParsed);
  EXPECT_EQ(cached.target, "untouched");
}

TEST_F(QueriesTest, FailedLatestAndRangeQueriesNameTheUrlTypeAndCause) {
  const std::string lastUrl = "/QryLast?codes=a%2C&types=k";
  const std::string rangeUrl = "/QryCodeType?types=k&codes=a&count=10&beginTime=1&endTime=2";
  std::string lastCause = exchangeMessageOf403(lastUrl);
  std::string rangeCause = exchangeMessageOf403(rangeUrl);
  server.setDefaultAnswer(ScriptedAnswer::withStatus(403));
  LogCapture log;

  std::vector<CloudTopic> out;
  ResultStatus last = api.getLastData("k", {"a"}, out);
  EXPECT_EQ(last.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(last.msg, gbk::kLastDataFailed + lastUrl + ",type=k,ret=" + lastCause);

  int64_t unused = 0;
  ResultStatus range = api.getDataByRange(TopicReq{"k", {"a"}, 1, 2, 10, 0}, unused, out);
  EXPECT_EQ(range.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(range.msg, gbk::kHistoryFailed + rangeUrl + ",type=k,ret=" + rangeCause);

  EXPECT_THAT(linesWith(log, "[DEBUG] DaZaviVor " + last.msg), SizeIs(1));
  EXPECT_THAT(linesWith(log, "[DEBUG] DaZaviVor " + range.msg), SizeIs(1));
}

TEST_F(QueriesTest, FailedPageQueryKeepsThePagingAnswerAndDropsTheCauseFromItsMessage) {
  const std::string url = "/QryPageTgtDetailV2?type=k&endTime=9&endm=5&datamtm=0&page=1";
  std::string cause = exchangeMessageOf403(url);
  server.script("/QryPageTgtDetailV2", ScriptedAnswer::withStatus(403)
                                           .header("page", "2")
                                           .header("islast", "true")
                                           .header("relationmtm", "7")
                                           .header("namemaxmtm", "8"));
  LogCapture log;
  PageReq req;
  req.type = "k";
  req.endTime = 9;
  req.endMtm = 5;
  req.page = 1;
  PageResponse rsp;
  std::vector<CloudTopic> out;

  ResultStatus status = api.getDataByPage(req, rsp, out);

  EXPECT_EQ(status.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(status.msg, gbk::kPageFailed + url + ",type=k");
  EXPECT_EQ(rsp.page, 2);
  EXPECT_TRUE(rsp.isLast);
  EXPECT_EQ(rsp.relationMtm, 7);
  EXPECT_EQ(rsp.nameMaxMtm, 8);
  EXPECT_THAT(linesWith(log, status.msg + ",ret=" + cause), SizeIs(1));
}

TEST_F(QueriesTest, PagingAnswerIsReadBeforeTheBody) {
  server.script("/QryPageTgtDetailV2", ScriptedAnswer::ok("a,1,1,x")
                                           .header("page", "3")
                                           .header("islast", "1")
                                           .header("relationmtm", "-4")
                                           .header("namemaxmtm", "9000000000"));
  server.script("/QryPageTgtDetailV2", ScriptedAnswer::ok("unreadable").header("page", "4"));
  PageReq req;
  req.type = "k";
  PageResponse rsp;
  std::vector<CloudTopic> out;

  ASSERT_TRUE(api.getDataByPage(req, rsp, out).ok());
  EXPECT_EQ(rsp.page, 3);
  EXPECT_TRUE(rsp.isLast);
  EXPECT_EQ(rsp.relationMtm, -4);
  EXPECT_EQ(rsp.nameMaxMtm, 9000000000);
  ASSERT_THAT(out, SizeIs(1));
  EXPECT_EQ(out[0].key, "k");

  EXPECT_EQ(api.getDataByPage(req, rsp, out).code, UNKNOWN);
  EXPECT_EQ(rsp.page, 4);
  EXPECT_FALSE(rsp.isLast);  // missing headers read as empty text
  EXPECT_EQ(rsp.nameMaxMtm, 0);
}

}  // namespace
}  // namespace test
}  // namespace orvex
