// The history service client against a scripted loopback server through the real runtime:
// signature and identification headers, the exchange with its retries and pause, the queries,
// the probes, start-up, and several threads at once.

#include <Poco/DigestEngine.h>
#include <Poco/HMACEngine.h>
#include <Poco/MD5Engine.h>
#include <Poco/SHA2Engine.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <boost/any.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FakeAuthService.h"
#include "LogCapture.h"
#include "ScopedEnvironment.h"
#include "ScriptedHttpServer.h"
#include "orvex/HqHistoryApi.h"
#include "orvex/KvHttp.h"

namespace orvex {

// Reaches the client's private session pool.
class HqHistoryApiTestPeer {
 public:
  static HttpSessionPool& pool(HqHistoryApi& api) { return api.sessionPool; }
};

namespace test {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::SizeIs;

// The GBK bytes of the client's texts, spelled out independently of the code.
namespace gbk {
const std::string kOnlyOneTarget =
    "\xb2\xce\xca\xfd\xb4\xed\xce\xf3,\xbd\xf6\xd6\xa7\xb3\xd6"
    "1\xb8\xf6\xb1\xea\xb5\xc4";
const std::string kNoSession = "\xcd\xf8\xc2\xe7\xb6\xd4\xcf\xf3\xb2\xbb\xb4\xe6\xd4\xda";
const std::string kLastDataFailed =
    "\xbb\xf1\xc8\xa1\xd7\xee\xd0\xc2\xd2\xbb\xcc\xf5\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
const std::string kParseFailed = "\xbd\xe2\xce\xf6\xca\xa7\xb0\xdc";
const std::string kNoDataParsed = "\xce\xb4\xbd\xe2\xce\xf6\xb5\xbd\xca\xfd\xbe\xdd";
const std::string kHistoryFailed =
    "\xbb\xf1\xc8\xa1\xc0\xfa\xca\xb7\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
const std::string kPageParseFailed = "getDataByPage \xbd\xe2\xce\xf6\xca\xa7\xb0\xdc";
const std::string kPageFailed =
    "\xbb\xf1\xc8\xa1\xb7\xd6\xd2\xb3\xc0\xfa\xca\xb7\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
const std::string kJsonParseFailed = "json\xbd\xe2\xce\xf6\xca\xa7\xb0\xdc";
}  // namespace gbk

// Poco's HMACEngine wants the block and digest sizes of its engine as constants.
class Sha256Engine : public Poco::SHA2Engine {
 public:
  enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
};

std::string md5Hex(const std::string& data) {
  Poco::MD5Engine engine;
  engine.update(data);
  return Poco::DigestEngine::digestToHex(engine.digest());
}

std::string authorization(const std::string& key, const std::string& secret,
                          const std::string& text) {
  Poco::HMACEngine<Sha256Engine> engine(secret);
  engine.update(text);
  return "FC " + key + ":" + Poco::DigestEngine::digestToHex(engine.digest());
}

struct ThrowingSession : KvHttp {
  ResultStatus getRspHeader(std::string&, HeaderMap&, const std::string&,
                            const HeaderMap&) override {
    throw std::runtime_error("session broke");
  }
};

// Counts exchanges that overlap on one session.
struct ExclusiveUseSession : KvHttp {
  ExclusiveUseSession(const SessionOptions& options, std::atomic<int>& counter)
      : real(options), violations(counter) {}
  ResultStatus getRspHeader(std::string& rsp, HeaderMap& rspHeaders, const std::string& target,
                            const HeaderMap& headers) override {
    if (inUse.exchange(true)) ++violations;
    ResultStatus status = real.getRspHeader(rsp, rspHeaders, target, headers);
    inUse = false;
    return status;
  }

  KvHttp real;
  std::atomic<int>& violations;
  std::atomic<bool> inUse{false};
};

class ClientTest : public ::testing::Test {
 protected:
  // Starts the client on the scripted server and forgets the start-up requests.
  void start() {
    std::string initTime;
    ResultStatus status = api.init(server.url(), initTime, 4);
    ASSERT_TRUE(status.ok()) << status.toString();
    server.clear();
  }
  ResultStatus get(const std::string& uri, int32_t tries = 3, const HeaderMap& headers = {}) {
    return api.getRequest(Poco::URI(uri), headers, tries, rsp);
  }
  ResultStatus last(const std::vector<std::string>& codes = {"a"}) {
    return api.getLastData("k", codes, out);
  }
  ResultStatus range(int64_t begin = 1, int64_t end = 2, int32_t count = 10,
                     const std::vector<std::string>& codes = {"a"}) {
    return api.getDataByRange(TopicReq{"k", codes, begin, end, count, 0}, unused, out);
  }
  ResultStatus paged(const PageReq& req = PageReq{}) { return api.getDataByPage(req, page, out); }
  std::vector<std::string> targets() const {
    std::vector<std::string> sent;
    for (const RecordedRequest& r : server.requests()) sent.push_back(r.target);
    return sent;
  }
  HttpSessionPool& pool() { return HqHistoryApiTestPeer::pool(api); }

  ScriptedHttpServer server;
  // A second service for tests that move the client; declared before `api` so that the client's
  // kept-alive connections close before the server stops.
  std::unique_ptr<ScriptedHttpServer> other;
  ScopedEnvironment env{{"user", "u1"},
                        {"product", "abc"},
                        {"product_number", "7"},
                        {"kvmacaddress", "m1"},
                        {"version", "v9"}};
  std::shared_ptr<FakeAuthService> auth = std::make_shared<FakeAuthService>("tok-1");
  ScopedAuthService installedAuth{auth};
  HqHistoryApi api;
  std::string rsp;
  std::vector<CloudTopic> out;
  int64_t unused = 0;
  PageResponse page;
};

TEST_F(ClientTest, SignatureUsesTheAccessKeyAndNothingSecretIsLogged) {
  env.set("fc_secret", "ignored without a configured key");
  auth->setAccessInfo(AccessInfo{"u", "key-7Q", "secret-9Z", "e"});
  start();
  EXPECT_EQ(auth->lastAccessInfoKind(), 2);
  LogCapture log;
  server.script("/sig", ScriptedAnswer::withStatus(403, "no"));
  get("/sig?c=1+2&e=&d=x%2Cy", 1,
      {{"x-fc-b", "2"}, {"my-x-fc-id", "1"}, {"X-Fc-Up", "no"}, {"Content-Type", "text/plain"}});
  ASSERT_TRUE(last({"a", "b"}).ok());

  // Per request: the content type, then the x-fc- headers and the canonical resource.
  const std::pair<std::string, std::string> signedParts[] = {
      {"text/plain", "my-x-fc-id:1\nx-fc-b:2\n/sig\nc=1%202\nd=x%2Cy\ne"},
      {"", "/QryLast\ncodes=a%2Cb%2C\ntypes=k"}};
  auto requests = server.requests();
  ASSERT_THAT(requests, SizeIs(2));
  EXPECT_EQ(requests[0].target, "/sig?c=1+2&e=&d=x%2Cy");
  for (size_t i = 0; i < 2; ++i) {
    const RecordedRequest& r = requests[i];
    SCOPED_TRACE(r.target);
    EXPECT_EQ(r.header("Content-MD5"), md5Hex(""));
    EXPECT_EQ(r.header("Authorization"),
              authorization("key-7Q", "secret-9Z",
                            "GET\n" + md5Hex("") + "\n" + signedParts[i].first + "\n" +
                                r.header("Date") + "\n" + signedParts[i].second));
    EXPECT_EQ(r.header("kvauth"), "tok-1");
  }
  EXPECT_FALSE(log.linesContaining("EN_FORBIDDEN").empty());
  for (const char* secret : {"key-7Q", "secret-9Z", "tok-1"}) {
    EXPECT_THAT(log.linesContaining(secret), SizeIs(0)) << secret;
  }

  // A configured key is used without asking the service; without a secret nothing is signed.
  env.set("fc_key", "AK").set("fc_secret", "");
  start();
  ASSERT_TRUE(last().ok());
  ASSERT_THAT(server.requests(), SizeIs(1));
  for (const char* name : {"Authorization", "Content-MD5", "Date"}) {
    EXPECT_FALSE(server.requests()[0].hasHeader(name)) << name;
  }
  EXPECT_EQ(auth->accessInfoFetches(), 1);
}

TEST_F(ClientTest, EveryRequestCarriesTheIdentificationHeadersAndItsTimeOut) {
  start();
  std::string serverName;
  last();
  range();
  paged();
  api.heartBeat("");
  api.getServerName(serverName);

  const HeaderMap identity{{"kvauth", "tok-1"},
                           {"user", "u1"},
                           {"product_id", "abc_7"},
                           {"mac", "m1"},
                           {"kvversion", "v9"}};
  auto requests = server.requests();
  ASSERT_THAT(requests, SizeIs(5));
  for (const RecordedRequest& r : requests) {
    SCOPED_TRACE(r.target);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.header("Request-Timeout"), r.path.rfind("/Qry", 0) == 0 ? "8000" : "5000");
    for (const auto& [name, value] : identity) EXPECT_EQ(r.header(name), value) << name;
  }
  EXPECT_EQ(auth->tokenFetches(), 1);
  EXPECT_EQ(auth->lastTokenRequest().kind, 13);
  EXPECT_EQ(auth->lastTokenRequest().services, std::vector<std::string>{"history_quote_info"});
}

TEST_F(ClientTest, RetriesAndWhatGoesBackToThePool) {
  start();
  const ScriptedAnswer late = ScriptedAnswer::ok().after(std::chrono::seconds(2));
  const ScriptedAnswer tokenError = ScriptedAnswer::withStatus(401);
  struct Case {
    const char* name;
    std::vector<ScriptedAnswer> answers;
    int32_t tries;
    int32_t code;
    uint64_t sent, pushedBack;
  } const cases[] = {
      {"no attempt", {}, 0, OK, 0, 0},
      {"token error, then OK", {tokenError, ScriptedAnswer::ok()}, 3, OK, 2, 1},
      {"token error on the last attempt", {tokenError}, 1, EN_ICE_NET_ERROR, 1, 0},
      {"three time-outs", {late, late, late}, 3, TIMEOUT, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.clear();
    LogCapture log;
    for (const ScriptedAnswer& answer : c.answers) server.script("/t", answer);
    const HttpSessionPool::Stats before = pool().stats();

    ResultStatus status =
        get("/t", c.tries, {{"Request-Timeout", c.code == TIMEOUT ? "150" : "8000"}});

    EXPECT_EQ(status.code, c.code) << status.toString();
    EXPECT_EQ(pool().stats().pops - before.pops, c.sent);
    EXPECT_EQ(pool().stats().pushes - before.pushes, c.pushedBack);
    auto requests = server.requestsTo("/t");
    EXPECT_THAT(requests, SizeIs(c.sent));
    for (const RecordedRequest& r : requests) EXPECT_EQ(r.header("kvauth"), "tok-1");
    EXPECT_THAT(log.linesContaining("client->getRspHeader fail,ret=EN_TokenErr@"),
                SizeIs(c.code == EN_ICE_NET_ERROR ? 1 : 0));
  }
  EXPECT_EQ(auth->tokenFetches(), 1);
}

TEST_F(ClientTest, FinalGetFailureCarriesTheBodyInGbkCutTo200Bytes) {
  start();
  LogCapture log;
  server.script("/f", ScriptedAnswer::withStatus(403));
  ResultStatus bare = get("/f");
  EXPECT_EQ(bare.code, EN_ICE_NET_ERROR);
  EXPECT_THAT(log.linesContaining("client->getRspHeader fail,ret=EN_FORBIDDEN@" + bare.msg),
              SizeIs(1));

  server.script("/f", ScriptedAnswer::withStatus(403, "\xe4\xb8\xad\xe6\x96\x87"));  // UTF-8
  EXPECT_EQ(get("/f").msg, bare.msg + ",rsp=\xd6\xd0\xce\xc4");

  const std::string longBody(300, 'x');
  server.script("/f", ScriptedAnswer::withStatus(403, longBody));
  EXPECT_EQ(get("/f").msg, (bare.msg + ",rsp=" + longBody).substr(0, 200));
  EXPECT_EQ(rsp, longBody);
  EXPECT_THAT(server.requestsTo("/f"), SizeIs(3));  // final failures are not retried
}

TEST_F(ClientTest, WithoutASessionOrATokenNothingIsSent) {
  LogCapture log;
  ResultStatus noSession = get("/x");  // not started: the pool knows no address
  EXPECT_EQ(noSession.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(noSession.msg, gbk::kNoSession);
  EXPECT_THAT(log.linesContaining("[ERROR] DaZaviVor HqHistoryApi, "), SizeIs(1));

  auth->failNextTokenFetches(100, ResultStatus(NOT_AUTH_SETTING, "denied"));
  std::string initTime;
  api.init(server.url(), initTime, 4);  // its heartbeat fails the same way
  const HttpSessionPool::Stats before = pool().stats();
  ResultStatus noToken = get("/x");
  EXPECT_EQ(noToken.code, NOT_AUTH_SETTING);
  EXPECT_EQ(noToken.msg, "denied");
  EXPECT_THAT(server.requests(), SizeIs(0));
  EXPECT_EQ(pool().stats().pops - before.pops, 3u);
  EXPECT_EQ(pool().stats().pushes, before.pushes);
}

TEST_F(ClientTest, AbsoluteUrisTakeSessionsUnderTheirOwnOrigin) {
  start();
  const uint64_t base = pool().stats().misses;
  EXPECT_TRUE(get(server.url() + "/abs?a=1").ok());
  EXPECT_THAT(targets(), ElementsAre("/abs?a=1"));
  get("http://localhost:" + std::to_string(server.port()) + "/abs");
  EXPECT_EQ(pool().stats().misses - base, 1u);
  // The scheme's well-known port is not part of the key.
  pool().addSession({{"Host", std::string("http://127.0.0.1")}}, 1);
  get("http://127.0.0.1:80/abs", 1);
  EXPECT_EQ(pool().stats().misses - base, 1u);
}

TEST_F(ClientTest, PostSendsTheBodyAndFailsWithTheResponseBody) {
  start();
  ResultStatus sent = api.postRequest(Poco::URI("/p?a=1"), {}, "payload", 3, rsp);
  EXPECT_EQ(sent.msg, server.url() + "/p?a=1");
  ASSERT_THAT(server.requests(), SizeIs(1));
  EXPECT_EQ(server.requests()[0].method, "POST");
  EXPECT_EQ(server.requests()[0].body, "payload");

  server.script("/p", ScriptedAnswer::withStatus(500, "bad input"));
  server.script("/p", ScriptedAnswer::withStatus(403));
  for (const char* body : {"bad input", ""}) {
    ResultStatus failed = api.postRequest(Poco::URI("/p"), {}, "x", 3, rsp);
    EXPECT_EQ(failed.code, EN_ICE_NET_ERROR);
    EXPECT_EQ(failed.msg, body);
  }
}

TEST_F(ClientTest, ExceptionsFromTheSessionBecomeServerExceptions) {
  pool().setSessionFactory(
      [](const SessionOptions&) { return std::make_shared<ThrowingSession>(); });
  std::string initTime;
  EXPECT_EQ(api.init(server.url(), initTime, 1).code, EN_ICE_SERVER_EXCEPTION);
  ResultStatus status = get("/x");
  EXPECT_EQ(status.code, EN_ICE_SERVER_EXCEPTION);
  EXPECT_EQ(status.msg, "session broke");
}

TEST_F(ClientTest, PauseIsTakenFromFailedAnswersTooAndLoggedOnChange) {
  start();
  LogCapture log;
  for (const char* value : {"500", "500", "", "-5"}) {
    server.script("/w", ScriptedAnswer::withStatus(403).header("kv_reqwait_msec", value));
    get("/w", 1);
  }
  EXPECT_THAT(log.linesContaining("HqHistoryApi, set waitMsec="),
              ElementsAre(EndsWith("[INFO ] DaZaviVor HqHistoryApi, set waitMsec=500,last=0"),
                          EndsWith("set waitMsec=-5,last=500")));
}

TEST_F(ClientTest, RangeAndPageQueriesWaitOutThePauseWhileLatestDataAndProbesDoNot) {
  start();
  server.script("/QryCodeType", ScriptedAnswer::ok().header("kv_reqwait_msec", "1500"));
  ASSERT_TRUE(range().ok());
  server.clear();

  // The held-back queries ask first, yet everything sent here meanwhile overtakes them.
  std::atomic<int> asking{0};
  std::thread ranged([&] {
    std::vector<CloudTopic> topics;
    ++asking;
    api.getDataByRange(TopicReq{"k", {"a"}, 1, 2, 10, 0}, unused, topics);
  });
  std::thread paging([&] {
    ++asking;
    paged();
  });
  while (asking < 2) std::this_thread::yield();
  std::vector<CloudTopic> latest;
  std::string name;
  api.getLastData("k", {"a"}, latest);
  api.heartBeat("");
  api.getServerName(name);
  ranged.join();
  paging.join();

  std::vector<std::string> paths;
  for (const RecordedRequest& r : server.requests()) paths.push_back(r.path);
  ASSERT_THAT(paths, SizeIs(5));
  std::sort(paths.begin() + 3, paths.end());
  EXPECT_THAT(paths, ElementsAre("/QryLast", "/HeartBeat", "/getServerVersion", "/QryCodeType",
                                 "/QryPageTgtDetailV2"));
}

TEST_F(ClientTest, QueryTexts) {
  start();
  CloudTopic cached;
  last({"a", "b"});
  api.getDataCache(TopicKey{"a", "k"}, cached);
  range(1, 2, 100);
  range(3, 3, -7);
  paged(PageReq{1, 0, {"a", "b"}, "k", 0, 9, 0, 5});
  paged(PageReq{2, 4, {}, "k", 1, INT64_MAX, 3, -1});
  EXPECT_THAT(targets(),
              ElementsAre("/QryLast?codes=a%2Cb%2C&types=k", "/QryLast?codes=a%2C&types=ce_k",
                          "/QryCodeType?types=k&codes=a&count=100&beginTime=1&endTime=2",
                          "/QryCodeType?types=k&codes=a&count=0&beginTime=3&endTime=3",
                          "/QryPageTgtDetailV2?type=k&tgt=a%2Cb&endTime=9&endm=5&datamtm=0&page=1",
                          "/QryPageTgtDetailV2?type=k&beginTime=1&endTime=9223372036854775807"
                          "&beginm=3&endm=-1&datamtm=4&page=2"));
}

TEST_F(ClientTest, RangeNeedsOneTargetAndSendsNothingForAReversedRange) {
  start();
  for (const auto& codes : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
    ResultStatus status = range(1, 2, 10, codes);
    EXPECT_EQ(status.code, INVALID_PARAM);
    EXPECT_EQ(status.msg, gbk::kOnlyOneTarget);
  }
  EXPECT_TRUE(range(5, 4).ok());
  EXPECT_THAT(server.requests(), SizeIs(0));
  ASSERT_THAT(out, SizeIs(1));
  EXPECT_THAT(out[0].bodies, SizeIs(0));
}

TEST_F(ClientTest, AnswersBecomeRecordsUnderTheRequestedKeyOrParseFailures) {
  start();
  server.script("/QryLast", ScriptedAnswer::ok("a,1,1.5,x\nb,2,2.5,y"));
  ASSERT_TRUE(last({"a", "b"}).ok());
  server.script("/QryCodeType", ScriptedAnswer::ok("1,1,x\n2,2,y"));
  ASSERT_TRUE(range().ok());
  ASSERT_THAT(out, SizeIs(3));
  EXPECT_EQ(out[2].target + out[2].key, "ak");
  EXPECT_THAT(out[2].bodies, SizeIs(2));
  // The cache lookup keeps the first record, under the key without its prefix.
  server.script("/QryLast", ScriptedAnswer::ok("a,7,1,x\nz,8,1,y"));
  CloudTopic cached;
  ASSERT_TRUE(api.getDataCache(TopicKey{"a", "k"}, cached).ok());
  EXPECT_EQ(cached.key, "k");
  ASSERT_THAT(cached.bodies, SizeIs(1));
  EXPECT_EQ(cached.bodies[0].time, 7);

  out.clear();
  server.setDefaultAnswer(ScriptedAnswer::ok("not a record"));
  EXPECT_EQ(last().msg, gbk::kParseFailed);
  EXPECT_EQ(range().msg, gbk::kParseFailed);
  EXPECT_EQ(paged().msg, gbk::kPageParseFailed);
  EXPECT_EQ(api.getDataCache(TopicKey{"a", "k"}, cached).msg, gbk::kParseFailed);
  server.setDefaultAnswer(ScriptedAnswer::ok(""));
  ResultStatus none = api.getDataCache(TopicKey{"a", "k"}, cached);
  EXPECT_EQ(none.code, UNKNOWN);
  EXPECT_EQ(none.msg, gbk::kNoDataParsed);
  EXPECT_EQ(cached.bodies[0].time, 7);
  EXPECT_THAT(out, SizeIs(0));
}

TEST_F(ClientTest, FailedQueriesNameTheUrlAndTypeAndPagingKeepsItsAnswer) {
  start();
  const std::string lastUrl = "/QryLast?codes=a%2C&types=k";
  const std::string rangeUrl = "/QryCodeType?types=k&codes=a&count=10&beginTime=1&endTime=2";
  const std::string pageUrl = "/QryPageTgtDetailV2?type=k&endTime=9&endm=5&datamtm=0&page=1";
  server.setDefaultAnswer(ScriptedAnswer::withStatus(403));
  const std::string lastCause = get(lastUrl, 1).msg, rangeCause = get(rangeUrl, 1).msg,
                    pageCause = get(pageUrl, 1).msg;
  LogCapture log;

  ResultStatus latest = last();
  EXPECT_EQ(latest.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(latest.msg, gbk::kLastDataFailed + lastUrl + ",type=k,ret=" + lastCause);
  ResultStatus ranged = range();
  EXPECT_EQ(ranged.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(ranged.msg, gbk::kHistoryFailed + rangeUrl + ",type=k,ret=" + rangeCause);

  server.script("/QryPageTgtDetailV2",
                ScriptedAnswer::withStatus(403).header("page", "2").header("islast", "true"));
  ResultStatus paging = paged(PageReq{1, 0, {}, "k", 0, 9, 0, 5});
  EXPECT_EQ(paging.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(paging.msg, gbk::kPageFailed + pageUrl + ",type=k");
  EXPECT_THAT(log.linesContaining(pageUrl + ",type=k,ret=" + pageCause), SizeIs(1));
  EXPECT_EQ(page.page, 2);
  EXPECT_TRUE(page.isLast);
}

TEST_F(ClientTest, ServerNameComesOnlyFromAStringNameMember) {
  start();
  struct Case {
    ScriptedAnswer answer;
    int32_t code;
    std::string name;
  } const cases[] = {
      {ScriptedAnswer::ok(R"({"version":"1.2","name":"s1"})"), OK, "s1"},
      {ScriptedAnswer::ok(R"({"version":"1"})"), OK, "kept"},
      {ScriptedAnswer::ok(R"({"name":5})"), OK, "kept"},
      {ScriptedAnswer::ok(""), OK, "kept"},
      {ScriptedAnswer::ok("abc"), UNKNOWN, "kept"},
      {ScriptedAnswer::ok(std::string(200000, '[')), UNKNOWN, "kept"},
      {ScriptedAnswer::withStatus(500, "down"), EN_ICE_NET_ERROR, "kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.body.substr(0, 40));
    server.script("/getServerVersion", c.answer);
    std::string name = "kept";
    ResultStatus status = api.getServerName(name);
    EXPECT_EQ(status.code, c.code);
    EXPECT_EQ(name, c.name);
    if (c.code == UNKNOWN) {
      EXPECT_EQ(status.msg, gbk::kJsonParseFailed);
    }
  }
}

TEST_F(ClientTest, InitMakesSessionsAndReturnsTheHeartbeat) {
  std::vector<SessionOptions> made;
  pool().setSessionFactory([&made](const SessionOptions& options) {
    made.push_back(options);
    return std::make_shared<KvHttp>(options);
  });
  auth->failAccessInfo(ResultStatus(NOT_AUTH_SETTING, "no access"));
  LogCapture log;
  std::string initTime;
  ASSERT_TRUE(api.init(server.url(), initTime, 4).ok());
  EXPECT_FALSE(initTime.empty());
  EXPECT_THAT(targets(), ElementsAre("/HeartBeat"));
  EXPECT_THAT(log.linesContaining("initFcKeySecret fail, ret=NOT_AUTH_SETTING@no access"),
              SizeIs(1));
  ASSERT_THAT(made, SizeIs(4));
  EXPECT_EQ(made[0].size(), 3u);
  EXPECT_EQ(boost::any_cast<OptKeepAlive>(made[0].at("Keep-Alive")).value, 30000);
  EXPECT_FALSE(boost::any_cast<bool>(made[0].at("Record-Log")));
  EXPECT_EQ(boost::any_cast<std::string>(made[0].at("Host")), server.url());

  // A failed heartbeat fails init but still reports the time; requests follow the new address.
  other = std::make_unique<ScriptedHttpServer>();
  other->setDefaultAnswer("/HeartBeat", ScriptedAnswer::withStatus(503));
  initTime.clear();
  EXPECT_EQ(api.init(other->url(), initTime, 1).code, EN_ICE_NET_ERROR);
  EXPECT_FALSE(initTime.empty());
  ASSERT_TRUE(last().ok());
  EXPECT_THAT(other->requestsTo("/QryLast"), SizeIs(1));
}

TEST_F(ClientTest, ThreadsShareOneTokenRefreshAndNeverShareASession) {
  std::atomic<int> violations{0};
  pool().setSessionFactory([&violations](const SessionOptions& options) {
    return std::make_shared<ExclusiveUseSession>(options, violations);
  });
  {
    // Start without a service so that the token cache is still empty when the threads begin.
    ScopedAuthService none(nullptr);
    start();
  }
  auth->setTokenDelay(std::chrono::milliseconds(100));
  server.setDefaultAnswer("/QryLast",
                          ScriptedAnswer::ok("a,1,1,x").after(std::chrono::milliseconds(2)));

  const size_t threadCount = 8, queriesPerThread = 20;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < threadCount; ++t) {
    threads.emplace_back([&] {
      for (size_t i = 0; i < queriesPerThread; ++i) {
        std::vector<CloudTopic> out;
        if (!api.getLastData("k", {"a"}, out).ok() || out.size() != 1) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(auth->tokenFetches(), 1);
  auto requests = server.requestsTo("/QryLast");
  ASSERT_THAT(requests, SizeIs(threadCount * queriesPerThread));
  for (const RecordedRequest& r : requests) EXPECT_EQ(r.header("kvauth"), "tok-1");
  // More threads than sessions: the pool made the rest, and every one came back.
  HttpSessionPool::Stats stats = pool().stats();
  EXPECT_EQ(stats.pops, stats.pushes);
}

}  // namespace
}  // namespace test
}  // namespace orvex
