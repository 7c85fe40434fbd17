// Start-up (sessions, key and secret, heartbeat), the accessors, and the server-name probe.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/any.hpp>
#include <string>

#include "ClientTestSupport.h"
#include "LogCapture.h"

namespace orvex {
namespace test {
namespace {

using ::testing::SizeIs;

class StartupTest : public ClientTest {};

TEST_F(StartupTest, InitRegistersSessionsWithTheThreeOptionsAndSendsAHeartbeat) {
  std::vector<SessionOptions> made;
  peer.pool().setSessionFactory([&made](const SessionOptions& options) {
    made.push_back(options);
    return std::make_shared<KvHttp>(options);
  });
  std::string initTime;
  ASSERT_TRUE(api.init(server.url(), initTime, 4).ok());

  ASSERT_THAT(made, SizeIs(4));
  const SessionOptions& options = made[0];
  EXPECT_EQ(options.size(), 3u);
  EXPECT_EQ(boost::any_cast<OptKeepAlive>(options.at("Keep-Alive")).value, 30000);
  EXPECT_FALSE(boost::any_cast<bool>(options.at("Record-Log")));
  EXPECT_EQ(boost::any_cast<std::string>(options.at("Host")), server.url());

  ASSERT_THAT(server.requests(), SizeIs(1));
  EXPECT_EQ(server.requests()[0].target, "/HeartBeat");
  EXPECT_FALSE(initTime.empty());
}

TEST_F(StartupTest, FailedHeartbeatFailsInitButStillReportsTheTime) {
  server.setDefaultAnswer("/HeartBeat", ScriptedAnswer::withStatus(503));
  LogCapture log;
  std::string initTime;
  ResultStatus status = api.init(server.url(), initTime, 1);

  EXPECT_EQ(status.code, EN_ICE_NET_ERROR);
  EXPECT_FALSE(initTime.empty());
  EXPECT_THAT(log.linesContaining("HeartBeat, url=/HeartBeat,rsp=,msg=" + status.msg), SizeIs(1));
}

TEST_F(StartupTest, SecondInitMovesRelativeRequestsToTheNewAddress) {
  start();
  ScriptedHttpServer other;
  std::string initTime;
  ASSERT_TRUE(api.init(other.url(), initTime, 2).ok());
  std::vector<CloudTopic> out;
  ASSERT_TRUE(api.getLastData("k", {"a"}, out).ok());
  EXPECT_THAT(server.requests(), SizeIs(0));
  EXPECT_THAT(other.requestsTo("/QryLast"), SizeIs(1));
  std::string host;
  EXPECT_TRUE(api.GetHost(host).ok());
  EXPECT_EQ(host, other.url());
}

TEST_F(StartupTest, ConfiguredKeyIsUsedWithoutAskingTheService) {
  env.set("fc_key", "AK");
  auth->setAccessInfo(AccessInfo{"u", "other", "other-secret", "e"});
  EXPECT_TRUE(peer.initFcKeySecret().ok());
  EXPECT_EQ(peer.accessInfo().key, "AK");
  EXPECT_EQ(peer.accessInfo().secret, "");
  EXPECT_EQ(auth->accessInfoFetches(), 0);
}

TEST_F(StartupTest, WithoutAConfiguredKeyTheServiceFillsAllFourFields) {
  env.set("fc_secret", "ignored");
  auth->setAccessInfo(AccessInfo{"u", "k2", "s2", "e"});
  EXPECT_TRUE(peer.initFcKeySecret().ok());
  EXPECT_EQ(auth->lastAccessInfoKind(), 2);
  EXPECT_EQ(peer.accessInfo().user, "u");
  EXPECT_EQ(peer.accessInfo().key, "k2");
  EXPECT_EQ(peer.accessInfo().secret, "s2");
  EXPECT_EQ(peer.accessInfo().extra, "e");

  ScopedAuthService none(nullptr);
  EXPECT_TRUE(peer.initFcKeySecret().ok());
  EXPECT_EQ(peer.accessInfo().key, "");
}

TEST_F(StartupTest, FailedAccessInfoIsLoggedAndDoesNotFailInit) {
  auth->failAccessInfo(ResultStatus(NOT_AUTH_SETTING, "no access"));
  LogCapture log;
  std::string initTime;
  EXPECT_TRUE(api.init(server.url(), initTime, 1).ok());
  EXPECT_THAT(log.linesContaining(
                  "[INFO ] DaZaviVor HqHistoryApi initFcKeySecret fail, ret=NOT_AUTH_SETTING@"
                  "no access"),
              SizeIs(1));
}

class ServerNameTest : public ClientTest {
 protected:
  void SetUp() override { start(); }

  ResultStatus nameFrom(const std::string& body, std::string& name) {
    server.script("/getServerVersion", ScriptedAnswer::ok(body));
    return api.getServerName(name);
  }
};

TEST_F(ServerNameTest, NameComesFromTheStringMemberOfAnObject) {
  std::string name = "old";
  EXPECT_TRUE(nameFrom(R"({"version":"1.2","name":"s1","n":[1,2]})", name).ok());
  EXPECT_EQ(name, "s1");
  EXPECT_TRUE(nameFrom(R"({"name":"\u4e2d"})", name).ok());
  EXPECT_EQ(name, "\xe4\xb8\xad");
}

TEST_F(ServerNameTest, AnythingButAStringNameLeavesTheNameAlone) {
  for (const char* body :
       {"", R"({"version":"1"})", R"({"name":5})", R"(["name","s"])", R"("s1")", "null"}) {
    std::string name = "kept";
    ResultStatus status = nameFrom(body, name);
    EXPECT_TRUE(status.ok()) << body;
    EXPECT_EQ(name, "kept") << body;
  }
}

TEST_F(ServerNameTest, UnreadableJsonIsAnErrorAndLogged) {
  LogCapture log;
  std::string name = "kept";
  ResultStatus status = nameFrom("abc", name);
  EXPECT_EQ(status.code, UNKNOWN);
  EXPECT_EQ(status.msg, gbk::kJsonParseFailed);
  EXPECT_EQ(name, "kept");
  EXPECT_THAT(linesWith(log, "[ERROR] DaZaviVor " + gbk::kJsonLogPrefix + "abc,errCode=0x"),
              SizeIs(1));

  // Deep nesting must not exhaust the stack.
  EXPECT_EQ(nameFrom(std::string(200000, '['), name).code, UNKNOWN);
}

TEST_F(ServerNameTest, FailedProbeIsLoggedAndReturnedUnchanged) {
  server.script("/getServerVersion", ScriptedAnswer::withStatus(500, "down"));
  LogCapture log;
  std::string name = "kept";
  ResultStatus status = api.getServerName(name);
  EXPECT_EQ(status.code, EN_ICE_NET_ERROR);
  EXPECT_EQ(name, "kept");
  EXPECT_THAT(
      log.linesContaining("getServerName, url=/getServerVersion,rsp=down,msg=" + status.msg),
      SizeIs(1));
}

}  // namespace
}  // namespace test
}  // namespace orvex
