// The history service client against the local service through the real runtime: signature and
// identification headers (checked by the service itself), the exchange with its retries and
// pause, the queries, the probes, start-up, and several threads at once. Odd answers come from the
// service's fault rules; what the client sent is read back from its request log.

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
#include "LocalService.h"
#include "LogCapture.h"
#include "ScopedEnvironment.h"
#include "orvex/HqHistoryApi.h"
#include "orvex/KvHttp.h"
#include "orvex/Messages.h"

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

const std::string kLastUri = "/QryLast?codes=a%2C&types=k";

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

// The service checks the client's token; its control endpoints give a POST something to succeed on.
hqserver::ServerOptions serviceOptions() {
  hqserver::ServerOptions options;
  options.token = "tok-1";
  options.control = true;
  return options;
}

class ClientTest : public ::testing::Test {
 protected:
  // Starts the client on the service and forgets the start-up requests.
  void start() {
    std::string initTime;
    ResultStatus status = api.init(service->url(), initTime, 4);
    ASSERT_TRUE(status.ok()) << status.toString();
    mark = service->requests().size();
  }
  // The requests the service answered since start().
  std::vector<LoggedRequest> sent() const {
    std::vector<LoggedRequest> all = service->requests();
    return std::vector<LoggedRequest>(all.begin() + std::min(mark, all.size()), all.end());
  }
  std::vector<std::string> sentUris() const {
    std::vector<std::string> uris;
    for (const LoggedRequest& r : sent()) uris.push_back(r.uri);
    return uris;
  }
  // Makes `settings` (with `body`) the service's only fault rule.
  void fault(const std::string& settings, const std::string& body = "") {
    service->faults().clear();
    service->addFault(settings, body);
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
  ResultStatus paged(const PageReq& req = PageReq{1, 0, {}, "k", 0, 9, 0, 5}) {
    return api.getDataByPage(req, page, out);
  }
  HttpSessionPool& pool() { return HqHistoryApiTestPeer::pool(api); }

  // Declared before `api`, so that the client's kept-alive connections close before the
  // services stop.
  std::unique_ptr<LocalService> service = std::make_unique<LocalService>(
      serviceOptions(), LocalService::fromCsv("a,k,1,1,1.5,x\na,k,2,2,2.5,y\nb,k,2,2,2.5,y\n"));
  std::unique_ptr<LocalService> other;
  ScopedEnvironment env{{"user", "u1"},
                        {"product", "abc"},
                        {"product_number", "7"},
                        {"kvmacaddress", "m1"},
                        {"version", "v9"}};
  std::shared_ptr<FakeAuthService> auth = std::make_shared<FakeAuthService>("tok-1");
  ScopedAuthService installedAuth{auth};
  HqHistoryApi api;
  size_t mark = 0;
  std::string rsp;
  std::vector<CloudTopic> out;
  int64_t unused = 0;
  PageResponse page;
};

TEST_F(ClientTest, SignatureUsesTheAccessKeyAndNothingSecretIsLogged) {
  hqserver::ServerOptions checked = serviceOptions();
  checked.key = "key-7Q";
  checked.secret = "secret-9Z";
  service = std::make_unique<LocalService>(checked, service->storePtr());
  env.set("fc_secret", "ignored without a configured key");
  auth->accessInfo = AccessInfo{"u", "key-7Q", "secret-9Z", "e"};
  LogCapture log;
  start();
  EXPECT_EQ(auth->lastAccessInfoKind, 2);
  // The service checks the signature over the extra parameters, x-fc- headers and content type.
  ResultStatus extras = get(
      "/QryLast?codes=a&types=k&c=1+2&e=&d=x%2Cy", 1,
      {{"x-fc-b", "2"}, {"my-x-fc-id", "1"}, {"X-Fc-Up", "no"}, {"Content-Type", "text/plain"}});
  EXPECT_TRUE(extras.ok()) << extras.toString();
  EXPECT_TRUE(last({"a", "b"}).ok());

  // A configured key is used without asking the service; without a secret nothing is signed, so
  // the service refuses the heartbeat.
  env.set("fc_key", "AK").set("fc_secret", "");
  std::string initTime;
  EXPECT_EQ(api.init(service->url(), initTime, 4).code, EN_ICE_NET_ERROR);
  EXPECT_EQ(auth->accessInfoFetches, 1);
  std::vector<LoggedRequest> requests = service->requests();
  ASSERT_THAT(requests, SizeIs(4));
  for (const LoggedRequest& r : requests) {
    SCOPED_TRACE(r.uri);
    for (const char* name : {"Authorization", "Content-MD5", "Date"}) {
      EXPECT_EQ(r.has(name), &r != &requests.back()) << name;
    }
  }
  EXPECT_EQ(requests.back().status, 403);
  EXPECT_FALSE(log.linesContaining("EN_FORBIDDEN").empty());
  for (const char* secret : {"key-7Q", "secret-9Z", "tok-1"}) {
    EXPECT_THAT(log.linesContaining(secret), SizeIs(0)) << secret;
  }
}

TEST_F(ClientTest, EveryRequestCarriesTheIdentificationHeadersAndItsTimeOut) {
  start();
  std::string serverName;
  EXPECT_TRUE(last().ok());
  EXPECT_TRUE(range().ok());
  EXPECT_TRUE(paged().ok());
  EXPECT_TRUE(api.heartBeat("").ok());
  EXPECT_TRUE(api.getServerName(serverName).ok());

  const std::map<std::string, std::string> identity{{"kvauth", "***"},
                                                    {"user", "u1"},
                                                    {"product_id", "abc_7"},
                                                    {"mac", "m1"},
                                                    {"kvversion", "v9"}};
  std::vector<LoggedRequest> requests = sent();
  ASSERT_THAT(requests, SizeIs(5));
  for (const LoggedRequest& r : requests) {
    SCOPED_TRACE(r.uri);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.headers.at("Request-Timeout"), r.uri.rfind("/Qry", 0) == 0 ? "8000" : "5000");
    for (const auto& [name, value] : identity) EXPECT_EQ(r.headers.at(name), value) << name;
  }
  EXPECT_EQ(auth->tokenFetches, 1);
  EXPECT_EQ(auth->lastTokenRequest.kind, 13);
  EXPECT_EQ(auth->lastTokenRequest.services, std::vector<std::string>{"history_quote_info"});
}

TEST_F(ClientTest, RetriesAndWhatGoesBackToThePool) {
  start();
  struct Case {
    const char* name;
    const char* fault;
    int32_t tries;
    int32_t code;
    uint64_t sent, pushedBack;
  } const cases[] = {
      {"no attempt", "", 0, OK, 0, 0},
      // The retry only passes the service's token check if the token is put in again.
      {"token error, then OK", "kind=status,code=401,first=1", 3, OK, 2, 1},
      {"token error on the last attempt", "kind=status,code=401,first=1", 1, EN_ICE_NET_ERROR, 1,
       0},
      {"three time-outs", "kind=delay,ms=400,first=3", 3, TIMEOUT, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    service->faults().clear();
    if (*c.fault) fault(c.fault);
    LogCapture log;
    const HttpSessionPool::Stats before = pool().stats();
    const uint64_t calls = service->requestCount("/QryLast");

    ResultStatus status =
        get(kLastUri, c.tries, {{"Request-Timeout", c.code == TIMEOUT ? "150" : "8000"}});

    EXPECT_EQ(status.code, c.code) << status.toString();
    EXPECT_EQ(pool().stats().pops - before.pops, c.sent);
    EXPECT_EQ(pool().stats().pushes - before.pushes, c.pushedBack);
    EXPECT_EQ(service->requestCount("/QryLast") - calls, c.sent);
    EXPECT_THAT(log.linesContaining("client->getRspHeader fail,ret=EN_TokenErr@"),
                SizeIs(c.code == EN_ICE_NET_ERROR ? 1 : 0));
  }
  EXPECT_EQ(auth->tokenFetches, 1);
}

TEST_F(ClientTest, FinalGetFailureCarriesTheBodyInGbkCutTo200Bytes) {
  start();
  LogCapture log;
  fault("kind=answer,code=403");
  ResultStatus bare = get(kLastUri);
  EXPECT_EQ(bare.code, EN_ICE_NET_ERROR);
  EXPECT_THAT(log.linesContaining("client->getRspHeader fail,ret=EN_FORBIDDEN@" + bare.msg),
              SizeIs(1));

  fault("kind=answer,code=403", "\xe4\xb8\xad\xe6\x96\x87");  // UTF-8
  EXPECT_EQ(get(kLastUri).msg, bare.msg + ",rsp=\xd6\xd0\xce\xc4");

  const std::string longBody(300, 'x');
  fault("kind=answer,code=403", longBody);
  EXPECT_EQ(get(kLastUri).msg, (bare.msg + ",rsp=" + longBody).substr(0, 200));
  EXPECT_EQ(rsp, longBody);
  EXPECT_THAT(sent(), SizeIs(3));  // final failures are not retried
}

TEST_F(ClientTest, WithoutASessionOrATokenNothingIsSent) {
  LogCapture log;
  ResultStatus noSession = get("/x");  // not started: the pool knows no address
  EXPECT_EQ(noSession.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(noSession.msg, msg::kNoSession);
  EXPECT_THAT(log.linesContaining("[ERROR] DaZaviVor HqHistoryApi, "), SizeIs(1));

  auth->tokenFailuresLeft = 100;
  auth->tokenFailure = ResultStatus(NOT_AUTH_SETTING, "denied");
  std::string initTime;
  api.init(service->url(), initTime, 4);  // its heartbeat fails the same way
  const HttpSessionPool::Stats before = pool().stats();
  ResultStatus noToken = get(kLastUri);
  EXPECT_EQ(noToken.code, NOT_AUTH_SETTING);
  EXPECT_EQ(noToken.msg, "denied");
  EXPECT_EQ(service->server().totalRequests(), 0u);
  EXPECT_EQ(pool().stats().pops - before.pops, 3u);
  EXPECT_EQ(pool().stats().pushes, before.pushes);
}

TEST_F(ClientTest, AbsoluteUrisTakeSessionsUnderTheirOwnOrigin) {
  start();
  const uint64_t base = pool().stats().misses;
  EXPECT_TRUE(get(service->url() + "/HeartBeat?a=1").ok());
  EXPECT_THAT(sentUris(), ElementsAre("/HeartBeat?a=1"));
  get("http://localhost:" + std::to_string(service->port()) + "/HeartBeat");
  EXPECT_EQ(pool().stats().misses - base, 1u);
  // The scheme's well-known port is not part of the key.
  pool().addSession({{"Host", std::string("http://127.0.0.1")}}, 1);
  get("http://127.0.0.1:80/HeartBeat", 1);
  EXPECT_EQ(pool().stats().misses - base, 1u);
}

TEST_F(ClientTest, PostSucceedsWithTheUrlAndFailsWithTheResponseBody) {
  start();
  ResultStatus sentOk = api.postRequest(Poco::URI("/_control/clear"), {}, "payload", 3, rsp);
  EXPECT_EQ(sentOk.msg, service->url() + "/_control/clear");
  ResultStatus failed = api.postRequest(Poco::URI("/QryLast"), {}, "x", 3, rsp);
  EXPECT_EQ(failed.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(failed.msg, "only GET is served\n");
  std::vector<LoggedRequest> requests = sent();
  ASSERT_THAT(requests, SizeIs(2));  // a final failure is not retried
  for (const LoggedRequest& r : requests) EXPECT_EQ(r.method, "POST");
}

TEST_F(ClientTest, ExceptionsFromTheSessionBecomeServerExceptions) {
  pool().setSessionFactory(
      [](const SessionOptions&) { return std::make_shared<ThrowingSession>(); });
  std::string initTime;
  EXPECT_EQ(api.init(service->url(), initTime, 1).code, EN_ICE_SERVER_EXCEPTION);
  ResultStatus status = get(kLastUri);
  EXPECT_EQ(status.code, EN_ICE_SERVER_EXCEPTION);
  EXPECT_EQ(status.msg, "session broke");
}

TEST_F(ClientTest, PauseIsTakenFromFailedAnswersTooAndLoggedOnChange) {
  start();
  LogCapture log;
  for (const char* value : {"500", "500", "", "-5"}) {
    fault(std::string("kind=answer,code=403,header=kv_reqwait_msec:") + value);
    get(kLastUri, 1);
  }
  EXPECT_THAT(log.linesContaining("HqHistoryApi, set waitMsec="),
              ElementsAre(EndsWith("[INFO ] DaZaviVor HqHistoryApi, set waitMsec=500,last=0"),
                          EndsWith("set waitMsec=-5,last=500")));
}

TEST_F(ClientTest, RangeAndPageQueriesWaitOutThePauseWhileLatestDataAndProbesDoNot) {
  start();
  service->setWaitMsec(1500);
  ASSERT_TRUE(range().ok());
  service->setWaitMsec(-1);
  mark = service->requests().size();

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
  for (const LoggedRequest& r : sent()) paths.push_back(r.path());
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
  EXPECT_THAT(sentUris(),
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
    EXPECT_EQ(status.msg, msg::kOnlyOneTarget);
  }
  EXPECT_TRUE(range(5, 4).ok());
  EXPECT_THAT(sent(), SizeIs(0));
  ASSERT_THAT(out, SizeIs(1));
  EXPECT_THAT(out[0].bodies, SizeIs(0));
}

TEST_F(ClientTest, AnswersBecomeRecordsUnderTheRequestedKey) {
  start();
  ASSERT_TRUE(last({"a", "b"}).ok());
  ASSERT_TRUE(range().ok());
  ASSERT_THAT(out, SizeIs(3));
  EXPECT_EQ(out[2].target + out[2].key, "ak");
  EXPECT_THAT(out[2].bodies, SizeIs(2));
  // The cache lookup keeps the first record, under the key without its prefix.
  fault("kind=answer,path=/QryLast,first=1", "a,7,1,x\nz,8,1,y\n");
  CloudTopic cached;
  ASSERT_TRUE(api.getDataCache(TopicKey{"a", "k"}, cached).ok());
  EXPECT_EQ(cached.key, "k");
  ASSERT_THAT(cached.bodies, SizeIs(1));
  EXPECT_EQ(cached.bodies[0].time, 7);

  // Unreadable answers are the fault suite's GarbageBodies case.
  out.clear();
  service->faults().clear();
  ResultStatus none = api.getDataCache(TopicKey{"unknown", "k"}, cached);  // an empty answer
  EXPECT_EQ(none.code, UNKNOWN);
  EXPECT_EQ(none.msg, msg::kNoDataParsed);
  EXPECT_EQ(cached.bodies[0].time, 7);
  EXPECT_THAT(out, SizeIs(0));
}

TEST_F(ClientTest, FailedQueriesNameTheUrlAndTypeAndPagingKeepsItsAnswer) {
  start();
  const std::string rangeUrl = "/QryCodeType?types=k&codes=a&count=10&beginTime=1&endTime=2";
  const std::string pageUrl = "/QryPageTgtDetailV2?type=k&endTime=9&endm=5&datamtm=0&page=1";
  fault("kind=status,code=403");
  const std::string lastCause = get(kLastUri, 1).msg, rangeCause = get(rangeUrl, 1).msg,
                    pageCause = get(pageUrl, 1).msg;
  LogCapture log;

  ResultStatus latest = last();
  EXPECT_EQ(latest.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(latest.msg, msg::kLastDataFailed + kLastUri + ",type=k,ret=" + lastCause);
  ResultStatus ranged = range();
  EXPECT_EQ(ranged.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(ranged.msg, msg::kHistoryFailed + rangeUrl + ",type=k,ret=" + rangeCause);

  fault("kind=answer,code=403,header=page:2,header=islast:true", "injected fault: status 403\n");
  ResultStatus paging = paged();
  EXPECT_EQ(paging.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(paging.msg, msg::kPageFailed + pageUrl + ",type=k");
  EXPECT_THAT(log.linesContaining(pageUrl + ",type=k,ret=" + pageCause), SizeIs(1));
  EXPECT_EQ(page.page, 2);
  EXPECT_TRUE(page.isLast);
}

// Unreadable and empty bodies are the server-name fuzzer's.
TEST_F(ClientTest, ServerNameComesOnlyFromAStringNameMember) {
  start();
  struct Case {
    std::string fault, body;
    int32_t code;
    std::string name;
  } const cases[] = {
      {"", "", OK, "orvex-hqserver"},
      {"kind=answer", R"({"version":"1"})", OK, "kept"},
      {"kind=answer", R"({"name":5})", OK, "kept"},
      {"kind=status,code=500", "", EN_ICE_NET_ERROR, "kept"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault + " " + c.body);
    service->faults().clear();
    if (!c.fault.empty()) fault(c.fault, c.body);
    std::string name = "kept";
    EXPECT_EQ(api.getServerName(name).code, c.code);
    EXPECT_EQ(name, c.name);
  }
}

TEST_F(ClientTest, InitMakesSessionsAndReturnsTheHeartbeat) {
  std::vector<SessionOptions> made;
  pool().setSessionFactory([&made](const SessionOptions& options) {
    made.push_back(options);
    return std::make_shared<KvHttp>(options);
  });
  auth->accessInfoFailure = ResultStatus(NOT_AUTH_SETTING, "no access");
  LogCapture log;
  std::string initTime;
  ASSERT_TRUE(api.init(service->url(), initTime, 4).ok());
  EXPECT_FALSE(initTime.empty());
  EXPECT_THAT(sentUris(), ElementsAre("/HeartBeat"));
  EXPECT_THAT(log.linesContaining("initFcKeySecret fail, ret=NOT_AUTH_SETTING@no access"),
              SizeIs(1));
  ASSERT_THAT(made, SizeIs(4));
  EXPECT_EQ(made[0].size(), 3u);
  EXPECT_EQ(boost::any_cast<OptKeepAlive>(made[0].at("Keep-Alive")).value, 30000);
  EXPECT_FALSE(boost::any_cast<bool>(made[0].at("Record-Log")));
  EXPECT_EQ(boost::any_cast<std::string>(made[0].at("Host")), service->url());

  // A failed heartbeat fails init but still reports the time; requests follow the new address.
  other = std::make_unique<LocalService>(serviceOptions(), service->storePtr());
  other->addFault("kind=status,path=/HeartBeat");
  initTime.clear();
  EXPECT_EQ(api.init(other->url(), initTime, 1).code, EN_ICE_NET_ERROR);
  EXPECT_FALSE(initTime.empty());
  ASSERT_TRUE(last().ok());
  EXPECT_EQ(other->requestCount("/QryLast"), 1u);
}

TEST_F(ClientTest, ThreadsShareOneTokenRefreshAndNeverShareASession) {
  std::atomic<int> violations{0};
  pool().setSessionFactory([&violations](const SessionOptions& options) {
    return std::make_shared<ExclusiveUseSession>(options, violations);
  });
  {
    // Start without a service so that the token cache is still empty when the threads begin.
    ScopedAuthService none(nullptr);
    std::string initTime;
    api.init(service->url(), initTime, 4);
  }
  auth->tokenDelay = std::chrono::milliseconds(100);
  fault("kind=delay,ms=2,path=/QryLast");
  const HttpSessionPool::Stats before = pool().stats();  // the refused heartbeat kept its sessions

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

  EXPECT_EQ(failures.load(), 0);  // the service refuses a request without the token
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(auth->tokenFetches, 1);
  EXPECT_EQ(service->requestCount("/QryLast"), threadCount * queriesPerThread);
  // More threads than sessions: the pool made the rest, and every one came back.
  HttpSessionPool::Stats stats = pool().stats();
  EXPECT_EQ(stats.pops - before.pops, stats.pushes - before.pushes);
}

}  // namespace
}  // namespace test
}  // namespace orvex
