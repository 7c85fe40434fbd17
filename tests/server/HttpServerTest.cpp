// The service over real HTTP, started in-process on an ephemeral port.
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "HttpGet.h"
#include "LocalService.h"
#include "Signing.h"
#include "hqserver/HqServer.h"
#include "orvex/TopicUtils.h"

namespace orvex {
namespace test {
namespace {

const char kCsv[] =
    "a,k,10,110,1,x\n"
    "a,k,20,120,2,y\n"
    "b,k,15,115,3.5,z\n";

hqserver::ServerOptions options() {
  hqserver::ServerOptions o;
  o.name = "test-service";
  o.pageSize = 2;
  return o;
}

TEST(HttpServerTest, ServesEveryEndpointWithPacingHeader) {
  auto o = options();
  o.waitMsec = 250;
  LocalService service(o, LocalService::fromCsv(kCsv));
  Poco::Net::HTTPClientSession session("127.0.0.1", service.port());

  Fetched beat = httpGet(session, "/HeartBeat");
  EXPECT_EQ(beat.status, 200);
  EXPECT_FALSE(beat.body.empty());
  EXPECT_EQ(beat.header("kv_reqwait_msec"), "250");

  Fetched version = httpGet(session, "/getServerVersion");
  rapidjson::Document doc;
  ASSERT_FALSE(doc.Parse(version.body.c_str()).HasParseError()) << version.body;
  EXPECT_STREQ(doc["name"].GetString(), "test-service");
  EXPECT_TRUE(doc.HasMember("version"));

  EXPECT_EQ(httpGet(session, "/QryLast?codes=a%2Cb%2C&types=k").body, "a,20,2,y\nb,15,3.5,z\n");
  EXPECT_EQ(httpGet(session, "/QryCodeType?types=k&codes=a&count=1&beginTime=0&endTime=15").body,
            "10,1,x\n");

  Fetched page =
      httpGet(session, "/QryPageTgtDetailV2?type=k&endTime=99&endm=999&datamtm=0&page=0");
  EXPECT_EQ(page.body, "a,10,1,x\na,20,2,y\n");
  // Exact lower-case names, as the client looks them up.
  EXPECT_EQ(page.header("page"), "1");
  EXPECT_EQ(page.header("islast"), "false");
  EXPECT_EQ(page.header("relationmtm"), "120");
  EXPECT_EQ(page.header("namemaxmtm"), "120");

  service.setWaitMsec(-1);
  EXPECT_EQ(httpGet(session, "/HeartBeat").headers.count("kv_reqwait_msec"), 0u);
  EXPECT_EQ(service.requestCount("/HeartBeat"), 2u);
}

TEST(HttpServerTest, BadRequestsGetAClearAnswerAndLeaveTheConnectionUsable) {
  LocalService service(options(), LocalService::fromCsv(kCsv));
  Poco::Net::HTTPClientSession session("127.0.0.1", service.port());
  EXPECT_EQ(httpGet(session, "/QryCodeType?types=k&codes=a&count=many").status, 400);
  EXPECT_EQ(httpGet(session, "/QryLast?codes=a%zz&types=k").status, 400) << "bad escape";
  EXPECT_EQ(httpGet(session, "/secret/../etc/passwd").status, 404);
  EXPECT_EQ(httpGet(session, "/_control/clear").status, 404) << "control is off";
  Poco::Net::HTTPRequest post(Poco::Net::HTTPRequest::HTTP_POST, "/HeartBeat",
                              Poco::Net::HTTPMessage::HTTP_1_1);
  post.setContentLength(4);
  session.sendRequest(post) << "body";
  Poco::Net::HTTPResponse rsp;
  session.receiveResponse(rsp).ignore(1 << 20);
  EXPECT_EQ(rsp.getStatus(), 405);
  Fetched after = httpGet(session, "/QryLast?codes=b%2C&types=k");
  EXPECT_EQ(after.status, 200);
  EXPECT_EQ(after.body, "b,15,3.5,z\n");
}

TEST(HttpServerTest, InjectsStatusAndGarbageOnTheChosenRequests) {
  LocalService service(options(), LocalService::fromCsv(kCsv));
  std::string error;
  service.faults().add(
      *hqserver::FaultRule::parse("kind=status,code=500,path=/QryLast,first=2", error));
  service.faults().add(
      *hqserver::FaultRule::parse("kind=garbage,path=/QryCodeType,every=2", error));
  Poco::Net::HTTPClientSession session("127.0.0.1", service.port());
  const std::string last = "/QryLast?codes=a%2C&types=k";
  EXPECT_EQ(httpGet(session, last).status, 500);
  EXPECT_EQ(httpGet(session, last).status, 500);
  EXPECT_EQ(httpGet(session, last).status, 200);
  EXPECT_EQ(httpGet(session, "/HeartBeat").status, 200) << "other paths untouched";

  const std::string range = "/QryCodeType?types=k&codes=a&count=5";
  std::vector<TopicBody> bodies;
  EXPECT_TRUE(TopicUtils::basicRec2TopicBodys(httpGet(session, range).body, bodies));
  Fetched garbage = httpGet(session, range);
  EXPECT_EQ(garbage.status, 200);
  EXPECT_FALSE(TopicUtils::basicRec2TopicBodys(garbage.body, bodies)) << "must not parse";
  std::vector<CloudTopic> topics;
  EXPECT_FALSE(TopicUtils::basicRec2Topics(garbage.body, "k", topics));
  EXPECT_EQ(service.server().faults().fired(), 3u);
}

TEST(HttpServerTest, ClosesTheConnectionWithoutAnAnswer) {
  LocalService service(options(), LocalService::fromCsv(kCsv));
  std::string error;
  service.faults().add(*hqserver::FaultRule::parse("kind=close,path=/HeartBeat,first=1", error));
  Poco::Net::HTTPClientSession session("127.0.0.1", service.port());
  EXPECT_THROW(httpGet(session, "/HeartBeat"), Poco::Exception);
  Poco::Net::HTTPClientSession fresh("127.0.0.1", service.port());
  EXPECT_EQ(httpGet(fresh, "/HeartBeat").status, 200);
}

TEST(HttpServerTest, DelaysPastTheClientsRequestTimeout) {
  LocalService service(options(), LocalService::fromCsv(kCsv));
  std::string error;
  // Without ms the delay is the request's Request-Timeout plus 500 ms.
  service.faults().add(*hqserver::FaultRule::parse("kind=delay,path=/HeartBeat,first=1", error));
  Poco::Net::HTTPClientSession session("127.0.0.1", service.port());
  session.setTimeout(Poco::Timespan(0, 200 * 1000));
  EXPECT_THROW(httpGet(session, "/HeartBeat", {{"Request-Timeout", "200"}}),
               Poco::TimeoutException);
  Poco::Net::HTTPClientSession fresh("127.0.0.1", service.port());
  EXPECT_EQ(httpGet(fresh, "/HeartBeat").status, 200);

  // A delay shorter than the client's patience is just a late, normal answer.
  service.faults().add(*hqserver::FaultRule::parse("kind=delay,ms=20,path=/QryLast", error));
  EXPECT_EQ(httpGet(fresh, "/QryLast?codes=a%2C&types=k").body, "a,20,2,y\n");
}

TEST(HttpServerTest, StopsPromptlyWhileARequestIsBeingDelayed) {
  auto service = std::make_unique<LocalService>(options(), LocalService::fromCsv(kCsv));
  std::string error;
  service->faults().add(*hqserver::FaultRule::parse("kind=delay,ms=600000", error));
  std::thread client([port = service->port()] {
    Poco::Net::HTTPClientSession session("127.0.0.1", port);
    EXPECT_THROW(httpGet(session, "/HeartBeat"), Poco::Exception);
  });
  while (service->requestCount("/HeartBeat") == 0) std::this_thread::yield();
  service.reset();  // would hang for ten minutes if the delay ignored the stop
  client.join();
}

TEST(HttpServerTest, ControlEndpointScriptsFaultsAndPacingAtRunTime) {
  auto o = options();
  o.control = true;
  LocalService service(o, LocalService::fromCsv(kCsv));
  Poco::Net::HTTPClientSession session("127.0.0.1", service.port());
  EXPECT_EQ(httpGet(session, "/_control/fault?kind=status&code=429&path=/HeartBeat&first=1").status,
            200);
  EXPECT_EQ(httpGet(session, "/_control/fault?kind=boom").status, 400);
  EXPECT_EQ(httpGet(session, "/_control/wait?msec=40").status, 200);
  Fetched limited = httpGet(session, "/HeartBeat");
  EXPECT_EQ(limited.status, 429);
  EXPECT_EQ(limited.header("kv_reqwait_msec"), "40");
  EXPECT_EQ(httpGet(session, "/HeartBeat").status, 200);

  Fetched stats = httpGet(session, "/_control/stats");
  rapidjson::Document doc;
  ASSERT_FALSE(doc.Parse(stats.body.c_str()).HasParseError()) << stats.body;
  EXPECT_EQ(doc["requests"]["/HeartBeat"].GetUint64(), 2u);
  EXPECT_EQ(doc["faultsFired"].GetUint64(), 1u);
  EXPECT_EQ(httpGet(session, "/_control/clear").status, 200);
  EXPECT_TRUE(service.faults().rules().empty());
}

TEST(HttpServerTest, ChecksTokenAndSignatureOverHttp) {
  auto o = options();
  o.token = "tok-123";
  o.key = "AK";
  o.secret = "SK";
  LocalService service(o, LocalService::fromCsv(kCsv));
  const std::string date =
      Poco::DateTimeFormatter::format(Poco::Timestamp(), Poco::DateTimeFormat::HTTP_FORMAT);
  std::map<std::string, std::string> headers = {
      {"kvauth", "tok-123"},
      {"Date", date},
      {"Content-MD5", emptyMd5()},
      {"Request-Timeout", "8000"},
      {"Authorization", authorization("AK", "SK",
                                      "GET\n" + std::string(emptyMd5()) + "\n\n" + date +
                                          "\n/QryLast\ncodes=a%2C\ntypes=k")}};
  const std::string query = "/QryLast?codes=a%2C&types=k";
  EXPECT_EQ(httpGet(service.port(), query, headers).status, 200);
  auto wrongToken = headers;
  wrongToken["kvauth"] = "tok-124";
  EXPECT_EQ(httpGet(service.port(), query, wrongToken).status, 401);
  EXPECT_EQ(httpGet(service.port(), "/QryLast?codes=b%2C&types=k", headers).status, 403);
}

TEST(HttpServerTest, RequestLogHoldsOneJsonLinePerRequestWithSecretsMasked) {
  namespace fs = std::filesystem;
  const fs::path log = fs::temp_directory_path() / ("hqserver-log-" + std::to_string(getpid()));
  fs::remove(log);
  auto o = options();
  o.requestLog = log.string();
  o.dataPath = (fs::temp_directory_path() / ("hqserver-data-" + std::to_string(getpid()))).string();
  std::ofstream(o.dataPath) << kCsv;
  std::string error;
  o.faults.push_back(*hqserver::FaultRule::parse("kind=close,path=/HeartBeat,first=1", error));
  auto server = hqserver::HqServer::create(o, error);
  ASSERT_TRUE(server) << error;
  ASSERT_TRUE(server->start(error)) << error;
  EXPECT_THROW(httpGet(server->port(), "/HeartBeat"), Poco::Exception);
  httpGet(server->port(), "/QryLast?codes=a%2C&types=k",
          {{"kvauth", "token-value-1"},
           {"Authorization", "FC AK:signature-value"},
           {"x-note", "\"quoted\"\x01\xb5"}});
  server->stop();

  std::ifstream in(log);
  std::vector<rapidjson::Document> lines;
  std::string text, all;
  while (std::getline(in, text)) {
    all += text;
    lines.emplace_back();
    ASSERT_FALSE(lines.back().Parse(text.c_str()).HasParseError()) << text;
  }
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["status"].GetInt(), 0);
  EXPECT_STREQ(lines[0]["fault"].GetString(), "close");
  EXPECT_STREQ(lines[1]["method"].GetString(), "GET");
  EXPECT_STREQ(lines[1]["uri"].GetString(), "/QryLast?codes=a%2C&types=k");
  EXPECT_EQ(lines[1]["status"].GetInt(), 200);
  EXPECT_STREQ(lines[1]["headers"]["kvauth"].GetString(), "***");
  EXPECT_STREQ(lines[1]["headers"]["Authorization"].GetString(), "***");
  EXPECT_EQ(all.find("token-value-1"), std::string::npos);
  EXPECT_EQ(all.find("signature-value"), std::string::npos);
  fs::remove(log);
  fs::remove(o.dataPath);
}

}  // namespace
}  // namespace test
}  // namespace orvex
