// The pause the service asks for with "kv_reqwait_msec": how it is recorded, and which queries
// wait it out. The timing checks use wide margins; they tell waiting from not waiting.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ClientTestSupport.h"
#include "LogCapture.h"

namespace orvex {
namespace test {
namespace {

using ::testing::SizeIs;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class PacingTest : public ClientTest {
 protected:
  void answerWithWait(const std::string& path, const std::string& wait, int status = 200) {
    server.script(path, ScriptedAnswer::withStatus(status).header("kv_reqwait_msec", wait));
  }
  std::string get(const std::string& path) {
    std::string rsp;
    api.getRequest(Poco::URI(path), {}, 1, rsp);
    return rsp;
  }
};

TEST_F(PacingTest, WaitTimeIsRecordedFromEveryAnswerAndLoggedOnChange) {
  start();
  LogCapture log;

  answerWithWait("/w", "500");
  get("/w");
  EXPECT_EQ(peer.waitMsec(), 500);
  answerWithWait("/w", "500");
  get("/w");
  answerWithWait("/w", "");  // an empty value changes nothing
  get("/w");
  EXPECT_EQ(peer.waitMsec(), 500);
  answerWithWait("/w", "-5", 403);  // failed answers count too
  get("/w");
  EXPECT_EQ(peer.waitMsec(), -5);

  auto lines = log.linesContaining("HqHistoryApi, set waitMsec=");
  ASSERT_THAT(lines, SizeIs(2));
  EXPECT_THAT(lines[0],
              ::testing::EndsWith("[INFO ] DaZaviVor HqHistoryApi, set waitMsec=500,last=0"));
  EXPECT_THAT(lines[1], ::testing::EndsWith("set waitMsec=-5,last=500"));
}

TEST_F(PacingTest, RangeAndPageQueriesWaitWhileLatestDataAndProbesDoNot) {
  start();
  std::vector<CloudTopic> out;
  int64_t unused = 0;
  server.script("/QryCodeType", ScriptedAnswer::ok().header("kv_reqwait_msec", "1500"));
  ASSERT_TRUE(api.getDataByRange(TopicReq{"k", {"a"}, 1, 2, 10, 0}, unused, out).ok());
  ASSERT_EQ(peer.waitMsec(), 1500);

  // Not held back: each reaches the server well before the pause would have ended.
  Clock::time_point sent = Clock::now();
  ASSERT_TRUE(api.getLastData("k", {"a"}, out).ok());
  ASSERT_TRUE(api.heartBeat("").ok());
  std::string name;
  ASSERT_TRUE(api.getServerName(name).ok());
  for (const RecordedRequest& r : server.requests()) {
    if (r.path != "/QryCodeType") {
      EXPECT_LT(r.arrival - sent, milliseconds(1400)) << r.path;
    }
  }

  // Held back: each waits at least the pause before it reaches the server.
  for (int i = 0; i < 2; ++i) {
    server.clear();
    Clock::time_point asked = Clock::now();
    if (i == 0) {
      ASSERT_TRUE(api.getDataByRange(TopicReq{"k", {"a"}, 1, 2, 10, 0}, unused, out).ok());
    } else {
      PageResponse page;
      ASSERT_TRUE(api.getDataByPage(PageReq{}, page, out).ok());
    }
    ASSERT_THAT(server.requests(), SizeIs(1));
    EXPECT_GE(server.requests()[0].arrival - asked, milliseconds(1500)) << i;
  }
}

TEST_F(PacingTest, PausesOfThirtySecondsOrMoreAreIgnored) {
  start();
  peer.setWaitServerMsec(30000);
  std::vector<CloudTopic> out;
  int64_t unused = 0;
  Clock::time_point asked = Clock::now();
  ASSERT_TRUE(api.getDataByRange(TopicReq{"k", {"a"}, 1, 2, 10, 0}, unused, out).ok());
  EXPECT_LT(Clock::now() - asked, milliseconds(10000));
}

}  // namespace
}  // namespace test
}  // namespace orvex
