// The HTTP exchange: retries and what they do with sessions, failure mapping, pool keys, POST and
// the exception guard.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ClientTestSupport.h"
#include "LogCapture.h"

namespace orvex {
namespace test {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::SizeIs;

class ExchangeTest : public ClientTest {
 protected:
  ResultStatus get(const std::string& uri, int32_t tries, std::string& rsp,
                   const HeaderMap& headers = {{"Request-Timeout", "8000"}}) {
    return api.getRequest(Poco::URI(uri), headers, tries, rsp);
  }

  // Pool figures since `before`.
  struct PoolDelta {
    uint64_t pops, pushes, misses;
  };
  PoolDelta since(const HttpSessionPool::Stats& before) {
    HttpSessionPool::Stats now = peer.pool().stats();
    return {now.pops - before.pops, now.pushes - before.pushes, now.misses - before.misses};
  }
};

TEST_F(ExchangeTest, TimeOutsAreRetriedOnFreshSessionsUntilAttemptsRunOut) {
  start();
  server.setDefaultAnswer("/slow", ScriptedAnswer::ok("late").after(std::chrono::seconds(2)));
  auto before = peer.pool().stats();

  std::string rsp;
  ResultStatus status = get("/slow", 3, rsp, {{"Request-Timeout", "150"}});

  EXPECT_EQ(status.code, TIMEOUT) << status.toString();
  EXPECT_THAT(server.requestsTo("/slow"), SizeIs(3));
  PoolDelta delta = since(before);
  EXPECT_EQ(delta.pops, 3u);
  EXPECT_EQ(delta.pushes, 0u);
}

TEST_F(ExchangeTest, TokenErrorIsRetriedWithTheSameCachedToken) {
  start();
  server.script("/t", ScriptedAnswer::withStatus(401));
  server.script("/t", ScriptedAnswer::ok("fine"));
  int fetchesBefore = auth->tokenFetches();
  auto before = peer.pool().stats();

  std::string rsp;
  ResultStatus status = get("/t", 3, rsp);

  EXPECT_TRUE(status.ok()) << status.toString();
  EXPECT_EQ(rsp, "fine");
  auto requests = server.requestsTo("/t");
  ASSERT_THAT(requests, SizeIs(2));
  EXPECT_EQ(requests[0].header("kvauth"), "tok-1");
  EXPECT_EQ(requests[1].header("kvauth"), "tok-1");
  EXPECT_EQ(auth->tokenFetches(), fetchesBefore);
  PoolDelta delta = since(before);
  EXPECT_EQ(delta.pops, 2u);
  EXPECT_EQ(delta.pushes, 1u);
}

TEST_F(ExchangeTest, TokenErrorOnTheLastAttemptIsFinal) {
  start();
  server.script("/t", ScriptedAnswer::withStatus(401));
  LogCapture log;
  auto before = peer.pool().stats();

  std::string rsp;
  ResultStatus status = get("/t", 1, rsp);

  EXPECT_EQ(status.code, EN_ICE_NET_ERROR);
  EXPECT_THAT(log.linesContaining("HqHistoryApi client->getRspHeader fail,ret=EN_TokenErr@"),
              SizeIs(1));
  PoolDelta delta = since(before);
  EXPECT_EQ(delta.pops, 1u);
  EXPECT_EQ(delta.pushes, 0u);
}

TEST_F(ExchangeTest, NoAttemptsMeansNothingIsSent) {
  start();
  std::string rsp = "kept";
  for (int32_t tries : {0, -3}) {
    ResultStatus status = get("/x", tries, rsp);
    EXPECT_TRUE(status.ok());
    EXPECT_EQ(status.msg, "");
  }
  EXPECT_THAT(server.requests(), SizeIs(0));
}

TEST_F(ExchangeTest, FinalGetFailureCarriesTheBodyInGbkAndIsCutAt200Bytes) {
  start();
  LogCapture log;
  std::string rsp;

  server.script("/f", ScriptedAnswer::withStatus(403));
  ResultStatus bare = get("/f", 3, rsp);
  EXPECT_EQ(bare.code, EN_ICE_NET_ERROR);
  EXPECT_FALSE(bare.msg.empty());
  EXPECT_THAT(bare.msg, Not(HasSubstr(",rsp=")));
  EXPECT_THAT(log.linesContaining("client->getRspHeader fail,ret=EN_FORBIDDEN@" + bare.msg),
              SizeIs(1));

  server.script("/f", ScriptedAnswer::withStatus(403, "\xe4\xb8\xad\xe6\x96\x87"));  // UTF-8
  ResultStatus withBody = get("/f", 3, rsp);
  EXPECT_EQ(withBody.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(withBody.msg, bare.msg + ",rsp=\xd6\xd0\xce\xc4");

  std::string longBody(300, 'x');
  server.script("/f", ScriptedAnswer::withStatus(403, longBody));
  ResultStatus cut = get("/f", 3, rsp);
  EXPECT_EQ(cut.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(cut.msg, (bare.msg + ",rsp=" + longBody).substr(0, 200));
  // The caller still gets the whole body.
  EXPECT_EQ(rsp, longBody);
  // Final failures are not retried.
  EXPECT_THAT(server.requestsTo("/f"), SizeIs(3));
}

TEST_F(ExchangeTest, TokenFailureOnEveryAttemptSendsNothing) {
  auth->failNextTokenFetches(100, ResultStatus(NOT_AUTH_SETTING, "denied"));
  std::string initTime;
  api.init(server.url(), initTime, 4);  // its heartbeat fails the same way
  auto before = peer.pool().stats();

  std::string rsp;
  ResultStatus status = get("/x", 3, rsp);

  EXPECT_EQ(status.code, NOT_AUTH_SETTING);
  EXPECT_EQ(status.msg, "denied");
  EXPECT_THAT(server.requests(), SizeIs(0));
  PoolDelta delta = since(before);
  EXPECT_EQ(delta.pops, 3u);
  EXPECT_EQ(delta.pushes, 0u);
}

TEST_F(ExchangeTest, WithoutSessionsTheRequestFailsAtOnce) {
  LogCapture log;
  std::string rsp;
  ResultStatus status = get("/x", 3, rsp);  // never started: the pool knows no address

  EXPECT_EQ(status.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(status.msg, gbk::kNoSession);
  EXPECT_THAT(linesWith(log, "[ERROR] DaZaviVor HqHistoryApi, " + gbk::kNoSession), SizeIs(1));
  EXPECT_EQ(peer.pool().stats().misses, 1u);
}

TEST_F(ExchangeTest, AbsoluteUrisTakeSessionsUnderTheirOwnOrigin) {
  start();
  std::string rsp;
  auto before = peer.pool().stats();
  EXPECT_TRUE(get(server.url() + "/abs?a=1", 3, rsp).ok());
  ASSERT_THAT(server.requestsTo("/abs"), SizeIs(1));
  EXPECT_EQ(server.requestsTo("/abs")[0].target, "/abs?a=1");
  EXPECT_EQ(since(before).misses, 0u);

  // Another origin has no sessions of its own.
  EXPECT_EQ(get("http://localhost:" + std::to_string(server.port()) + "/abs", 3, rsp).code,
            EN_ICE_NET_ERROR);
  EXPECT_EQ(since(before).misses, 1u);

  // The scheme's well-known port is not part of the key.
  peer.pool().addSession({{"Host", std::string("http://127.0.0.1")}}, 1);
  before = peer.pool().stats();
  get("http://127.0.0.1:80/abs", 1, rsp);
  EXPECT_EQ(since(before).pops, 1u);
  EXPECT_EQ(since(before).misses, 0u);
}

TEST_F(ExchangeTest, PostSendsTheBodyAndReportsTheFullUrl) {
  start();
  std::string rsp;
  ResultStatus status = api.postRequest(Poco::URI("/p?a=1"), {}, "payload", 3, rsp);

  EXPECT_TRUE(status.ok()) << status.toString();
  EXPECT_EQ(status.msg, server.url() + "/p?a=1");
  auto requests = server.requestsTo("/p");
  ASSERT_THAT(requests, SizeIs(1));
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].body, "payload");
}

TEST_F(ExchangeTest, FinalPostFailureCarriesTheResponseBodyAsMessage) {
  start();
  LogCapture log;
  std::string rsp;
  server.script("/p", ScriptedAnswer::withStatus(500, "bad input"));
  server.script("/p", ScriptedAnswer::withStatus(403));

  ResultStatus withBody = api.postRequest(Poco::URI("/p"), {}, "x", 3, rsp);
  ResultStatus empty = api.postRequest(Poco::URI("/p"), {}, "x", 3, rsp);

  EXPECT_EQ(withBody.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(withBody.msg, "bad input");
  EXPECT_EQ(empty.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(empty.msg, "");
  EXPECT_THAT(log.linesContaining("client->post fail,ret=EN_MAIN_SERVICE_ERROR@"), SizeIs(1));
  EXPECT_THAT(log.linesContaining("client->post fail,ret=EN_FORBIDDEN@"), SizeIs(1));
}

TEST_F(ExchangeTest, ExceptionsFromTheSessionBecomeServerExceptions) {
  peer.pool().setSessionFactory(
      [](const SessionOptions&) { return std::make_shared<ThrowingSession>(); });
  std::string initTime;
  ResultStatus started = api.init(server.url(), initTime, 1);
  EXPECT_EQ(started.code, EN_ICE_SERVER_EXCEPTION);

  std::string rsp;
  ResultStatus status = get("/x", 3, rsp);
  EXPECT_EQ(status.code, EN_ICE_SERVER_EXCEPTION);
  EXPECT_EQ(status.msg, "session broke");
  ResultStatus posted = api.postRequest(Poco::URI("/x"), {}, "", 3, rsp);
  EXPECT_EQ(posted.code, EN_ICE_SERVER_EXCEPTION);
}

}  // namespace
}  // namespace test
}  // namespace orvex
