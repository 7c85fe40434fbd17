// The service over real HTTP, started in-process on an ephemeral port; its fault rules and its
// request log.
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/DigestEngine.h>
#include <Poco/Exception.h>
#include <Poco/HMACEngine.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/SHA2Engine.h>
#include <Poco/StreamCopier.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "LocalService.h"

namespace orvex {
namespace test {
namespace {

using hqserver::FaultRule;
using Session = Poco::Net::HTTPClientSession;
using Headers = std::map<std::string, std::string>;  // names as sent

struct Fetched {
  int status;
  Headers headers;
  std::string body;
};

// Keeps the connection alive. Poco exceptions (time-out, connection closed) reach the caller.
Fetched httpGet(Session& session, const std::string& pathAndQuery, const Headers& headers = {}) {
  Poco::Net::HTTPRequest request("GET", pathAndQuery, "HTTP/1.1");
  request.setKeepAlive(true);
  for (const auto& [name, value] : headers) request.set(name, value);
  session.sendRequest(request);
  Poco::Net::HTTPResponse response;
  std::istream& in = session.receiveResponse(response);
  Fetched out{response.getStatus(), {response.begin(), response.end()}, ""};
  Poco::StreamCopier::copyToString(in, out.body);
  return out;
}

Fetched httpGet(uint16_t port, const std::string& pathAndQuery, const Headers& headers = {}) {
  Session session("127.0.0.1", port);
  return httpGet(session, pathAndQuery, headers);
}

FaultRule rule(const std::string& settings) {
  std::string error;
  auto r = FaultRule::parse(settings, error);
  EXPECT_TRUE(r.has_value()) << settings << ": " << error;
  return r.value_or(FaultRule{});
}

const char kCsv[] = "a,k,10,110,1,x\na,k,20,120,2,y\nb,k,15,115,3.5,z\n";

TEST(HttpServerTest, RefusesBadRequestsAndServesControlOnlyWhenAsked) {
  LocalService service(hqserver::ServerOptions{}, LocalService::fromCsv(kCsv));
  Session session("127.0.0.1", service.port());
  Fetched beat = httpGet(session, "/HeartBeat");
  EXPECT_EQ(beat.status, 200);
  EXPECT_EQ(beat.headers.count("kv_reqwait_msec"), 0u) << "no pacing unless asked for";
  EXPECT_EQ(httpGet(session, "/QryLast?codes=a%zz&types=k").status, 400) << "bad escape";
  EXPECT_EQ(httpGet(session, "/_control/clear").status, 404) << "control is off";
  // Another method without a length has no body: it is refused at once, not after waiting for one.
  Poco::Net::HTTPRequest brew("BREW", "/HeartBeat", "HTTP/1.1");
  session.setTimeout(Poco::Timespan(10, 0));
  session.sendRequest(brew);
  Poco::Net::HTTPResponse refused;
  session.receiveResponse(refused);
  EXPECT_EQ(refused.getStatus(), 405);
}

// Rules added here are checked as written back; what each kind does to a client is the fault
// suite's and the session tests'.
TEST(HttpServerTest, ControlEndpointsScriptFaultsAndPacingAndReportWhatHappened) {
  hqserver::ServerOptions o;
  o.control = true;
  LocalService service(o, LocalService::fromCsv(kCsv));
  Session session("127.0.0.1", service.port());
  const std::pair<std::string, std::string> rules[] = {
      {"kind=status&path=/QryLast&first=2", "kind=status,code=503,path=/QryLast,first=2"},
      {"kind=delay&ms=20&path=/QryLast", "kind=delay,ms=20,path=/QryLast,every=1"},
      {"kind=garbage&path=/QryCodeType&every=2", "kind=garbage,path=/QryCodeType,every=2"},
      {"kind=close&path=/HeartBeat&first=1", "kind=close,path=/HeartBeat,first=1"},
      // Without ms: the request's Request-Timeout plus 500 ms.
      {"kind=delay&path=/getServerVersion", "kind=delay,path=/getServerVersion,every=1"}};
  for (const auto& [query, text] : rules) {
    EXPECT_EQ(httpGet(session, "/_control/fault?" + query).body, text + "\n");
  }
  for (const char* bad :
       {"kind=boom", "code=500", "kind=status&code=99", "kind=delay&ms=-1", "kind=close&first=0",
        "kind=close&first=1&every=2", "kind=close&path=", "kind=close&color=red"}) {
    EXPECT_EQ(httpGet(session, std::string("/_control/fault?") + bad).status, 400) << bad;
  }
  EXPECT_THROW(httpGet(session, "/HeartBeat"), Poco::Exception) << "closed without an answer";
  Session fresh("127.0.0.1", service.port());
  EXPECT_EQ(httpGet(fresh, "/_control/wait?msec=40").status, 200);
  const Headers odd{{"kvauth", "token-1"}, {"x-note", "\"quoted\"\x01\xb5"}};
  EXPECT_EQ(httpGet(fresh, "/HeartBeat", odd).headers["kv_reqwait_msec"], "40");
  // The request log holds a JSON line for each, the one closed unanswered too.
  const std::vector<LoggedRequest> beats = service.requests("/HeartBeat");
  ASSERT_EQ(beats.size(), 2u);
  EXPECT_EQ(beats[0].fault, "close");
  EXPECT_EQ(beats[1].status, 200);
  const std::string stats = httpGet(fresh, "/_control/stats").body;
  EXPECT_NE(stats.find("\"faultsFired\":1,"), std::string::npos) << stats;
  EXPECT_NE(stats.find("\"/HeartBeat\":2"), std::string::npos) << stats;
  EXPECT_EQ(httpGet(fresh, "/_control/clear").status, 200);
  EXPECT_EQ(httpGet(fresh, "/QryLast?codes=a%2C&types=k").status, 200) << "the 503 rule is gone";
}

TEST(FaultRuleTest, EarliestRuleWinsWhileEveryMatchingRuleCounts) {
  hqserver::FaultInjector faults;
  faults.add(rule("kind=status,code=500,path=*,every=2"));
  faults.add(rule("kind=garbage,path=/QryLast,first=3"));
  std::string fired;
  for (const char* path :
       {"/QryLast", "/QryLast", "/QryLast", "/QryLast", "/HeartBeat", "/HeartBeat"}) {
    auto r = faults.next(path);
    fired += r ? FaultRule::kindName(r->kind) + std::string(" ") : "- ";
  }
  // The catch-all rule counted the first four too: the other path gets its fifth and sixth request.
  EXPECT_EQ(fired, "garbage status garbage status - status ");
}

TEST(HttpServerTest, StopsPromptlyWhileARequestIsBeingDelayed) {
  auto service =
      std::make_unique<LocalService>(hqserver::ServerOptions{}, LocalService::fromCsv(kCsv));
  service->addFault("kind=delay,ms=600000");
  std::thread client(
      [port = service->port()] { EXPECT_THROW(httpGet(port, "/HeartBeat"), Poco::Exception); });
  while (service->requestCount("/HeartBeat") == 0) std::this_thread::yield();
  service.reset();  // would hang for ten minutes if the delay ignored the stop
  client.join();
}

// Signatures are made here as a client makes them, apart from the service's own code.
struct Sha256Engine : Poco::SHA2Engine {
  enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
  Sha256Engine() : Poco::SHA2Engine(SHA_256) {}
};

TEST(HttpServerTest, ChecksTheTokenThenTheSignature) {
  hqserver::ServerOptions o;
  o.token = "tok";
  o.key = "AK";
  o.secret = "SK";
  LocalService service(o, LocalService::fromCsv(kCsv));
  const std::string query = "/QryPageTgtDetailV2?type=k&tgt=a%2C%20b&page=0&endm=999";
  // Its canonical resource, written out: items sorted, values encoded again.
  const std::string resource = "/QryPageTgtDetailV2\nendm=999\npage=0\ntgt=a%2C%20b\ntype=k";
  auto sign = [](int64_t minutes, const std::string& resource, const std::string& secret = "SK",
                 const std::string& md5 = "d41d8cd98f00b204e9800998ecf8427e") {
    const std::string date = Poco::DateTimeFormatter::format(
        Poco::Timestamp() + minutes * 60'000'000, Poco::DateTimeFormat::HTTP_FORMAT);
    Poco::HMACEngine<Sha256Engine> hmac(secret);
    hmac.update("GET\n" + md5 + "\n\n" + date + "\nmy-x-fc-id:w\nx-fc-trace:v\n" + resource);
    return Headers{{"kvauth", "tok"},
                   {"Date", date},
                   {"Content-MD5", md5},
                   {"x-fc-trace", "v"},
                   {"my-x-fc-id", "w"},
                   {"X-Fc-Upper", "not signed"},
                   {"Authorization", "FC AK:" + Poco::DigestEngine::digestToHex(hmac.digest())}};
  };
  auto status = [&service](const std::string& query, const Headers& headers) {
    return httpGet(service.port(), query, headers).status;
  };
  EXPECT_EQ(status(query, sign(0, resource)), 200);
  EXPECT_EQ(status(query, sign(-14, resource)), 200);
  EXPECT_EQ(status(query, sign(14, resource)), 200);
  // Empty values give bare names; ':' and '/' stay as they are in the item.
  EXPECT_EQ(status("/QryLast?codes=&types=x%3Ay%2Fz", sign(0, "/QryLast\ncodes\ntypes=x:y/z")),
            200);

  EXPECT_EQ(status(query, sign(-16, resource)), 403) << "Date too old";
  EXPECT_EQ(status(query, sign(16, resource)), 403) << "Date too new";
  EXPECT_EQ(status(query, sign(0, resource, "other")), 403) << "wrong secret";
  EXPECT_EQ(status(query, sign(0, resource, "SK", "0123")), 403) << "Content-MD5 of no body";
  EXPECT_EQ(status(query + "0", sign(0, resource)), 403) << "query changed after signing";
  const std::pair<std::string, std::string> changes[] = {
      {"x-fc-trace", "changed"}, {"Date", "yesterday"}, {"Authorization", ""}, {"kvauth", ""}};
  for (const auto& [name, value] : changes) {
    Headers h = sign(0, resource);
    h[name] = value;
    if (value.empty()) h.erase(name);
    EXPECT_EQ(status(query, h), name == "kvauth" ? 401 : 403) << name << "=" << value;
  }
  Headers h = sign(0, resource);
  h["Authorization"].replace(3, 2, "AX");
  EXPECT_EQ(status(query, h), 403) << "wrong key";
  h["kvauth"] = "TOK";
  EXPECT_EQ(status(query, h), 401) << "token first, case counts";
}

}  // namespace
}  // namespace test
}  // namespace orvex
