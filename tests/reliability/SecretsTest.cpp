// A session with trace logging and an access key, secret and token configured: no log line
// and no line of the service's request log may show any of the three.
#include <gmock/gmock.h>

#include "FakeAuthService.h"
#include "LogCapture.h"
#include "ReliabilitySupport.h"
#include "ScopedEnvironment.h"

namespace orvex::test::reliability {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kKey = "AK-reliability-3f9c1e";
const std::string kSecret = "SK-reliability-8d27b4";
const std::string kToken = "TK-reliability-51e0aa";

TEST(SecretsTest, NoLogLineOrRequestLogLineShowsKeySecretOrToken) {
  ScopedEnvironment env{{"fc_key", kKey}, {"fc_secret", kSecret}, {"token", kToken}};
  auto auth = std::make_shared<FakeAuthService>(kToken);
  ScopedAuthService installed(auth);
  hqserver::ServerOptions options;
  options.token = kToken;
  options.key = kKey;
  options.secret = kSecret;
  // Every logger of the process, at every level.
  LogCapture plugin(log4cxx::Level::getTrace()), http(log4cxx::Level::getAll(), "HttpSession"),
      pool(log4cxx::Level::getAll(), "ThreadPool");
  PluginHost host;
  ASSERT_TRUE(host.start(2, options));
  EXPECT_EQ(host.run(TopicReq{"tick", {"R0.x"}, INT64_MIN, INT64_MAX, 1500}, 1).code, OK);
  EXPECT_EQ(host.run(TopicReq{"bar", {"R0.x"}, 0, INT64_MAX, 0, ByModifyTime}, 2).code, OK);
  // Failures too, which log at WARN and ERROR.
  for (const char* fault :
       {"kind=status,code=401,path=/QryLast", "kind=garbage,path=/getServerVersion",
        "kind=status,code=500,path=/QryCodeType,first=1"}) {
    host.service->addFault(fault);
  }
  host.service->setWaitMsec(1);  // pacing, logged at INFO
  std::vector<CloudTopic> latest;
  EXPECT_EQ(host.api->getLastData("tick", {"R0.x"}, latest).code, EN_ICE_NET_ERROR);
  EXPECT_EQ(host.api->connect(host.service->url()).code, UNKNOWN);
  EXPECT_EQ(host.run(TopicReq{"tick", {"R0.x"}, 0, INT64_MAX, 5}, 3).code, EN_ICE_NET_ERROR);
  host.api.reset();

  std::vector<std::string> lines, levels;
  for (const LoggedRequest& r : host.service->requests()) {
    lines.push_back(r.uri);
    for (const auto& [name, value] : r.headers) lines.push_back(name + ": " + value);
  }
  // The session was served, its requests logged masked, and it logged at every level.
  EXPECT_GT(auth->tokenFetches, 0);
  ASSERT_GE(host.service->requests().size(), 10u);
  EXPECT_THAT(lines, Contains("kvauth: ***"));
  EXPECT_THAT(lines, Contains("Authorization: ***"));
  for (const LogCapture* log : {&plugin, &http, &pool}) {
    for (const LogCapture::Entry& e : log->entries()) {
      levels.push_back(e.level);
      lines.push_back(e.text);
    }
  }
  for (const char* level : {"TRACE", "DEBUG", "INFO", "WARN", "ERROR"})
    EXPECT_THAT(levels, Contains(level));
  for (const std::string& line : lines) {
    for (const std::string& secret : {kKey, kSecret, kToken})
      EXPECT_THAT(line, Not(HasSubstr(secret)));
  }
}

}  // namespace
}  // namespace orvex::test::reliability
