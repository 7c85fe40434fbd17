// connect and the server name through the loaded plug-in.
#include <gtest/gtest.h>

#include "E2eSupport.h"
#include "ScriptedHttpServer.h"

namespace orvex {
namespace test {
namespace {

class ScriptedConnectTest : public PluginTest {
 protected:
  ScriptedHttpServer server;
};

TEST_F(ScriptedConnectTest, HeartbeatFailureIsReturnedWithoutAskingForTheName) {
  server.setDefaultAnswer("/HeartBeat", ScriptedAnswer::withStatus(503));
  const ResultStatus result = api->connect(server.url());
  EXPECT_NE(result.code, OK);
  EXPECT_FALSE(server.requestsTo("/HeartBeat").empty());
  EXPECT_TRUE(server.requestsTo("/getServerVersion").empty());
  EXPECT_EQ(api->getServerName(), "");
}

TEST_F(ScriptedConnectTest, NameIsKeptWhenALaterAnswerHasNoneOrIsNotJson) {
  server.script("/getServerVersion", ScriptedAnswer::ok(R"({"version":"1","name":"s1"})"));
  ASSERT_EQ(api->connect(server.url()).code, OK);
  EXPECT_EQ(api->getServerName(), "s1");

  server.script("/getServerVersion", ScriptedAnswer::ok(R"({"version":"2"})"));
  EXPECT_EQ(api->connect(server.url()).code, OK);
  EXPECT_EQ(api->getServerName(), "s1");

  server.script("/getServerVersion", ScriptedAnswer::ok("abc"));
  const ResultStatus result = api->connect(server.url());
  EXPECT_EQ(result.code, UNKNOWN);
  EXPECT_EQ(result.msg, "json\xBD\xE2\xCE\xF6\xCA\xA7\xB0\xDC");  // "json解析失败" in GBK
  EXPECT_EQ(api->getServerName(), "s1");
  EXPECT_EQ(server.requestsTo("/getServerVersion").size(), 3u);
}

TEST_F(PluginTest, ConnectsToTheLocalServiceWithOrWithoutAScheme) {
  hqserver::ServerOptions options;
  options.name = "e2e-service";
  LocalService service(options);
  EXPECT_EQ(api->getServerName(), "");
  ASSERT_EQ(api->connect("127.0.0.1:" + std::to_string(service.port())).code, OK);
  EXPECT_EQ(api->getServerName(), "e2e-service");
  ASSERT_EQ(api->connect(service.url()).code, OK);
  EXPECT_EQ(service.requestCount("/HeartBeat"), 2u);
  EXPECT_EQ(service.requestCount("/getServerVersion"), 2u);
  api.reset();  // before the service stops
}

}  // namespace
}  // namespace test
}  // namespace orvex
