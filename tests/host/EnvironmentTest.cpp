// The configuration object (file loading, run-time values, derived getters) and the
// configuration-backed authentication service.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ScopedEnvironment.h"
#include "orvex/Environment.h"
#include "orvex/IServiceRouter.h"

namespace orvex {
namespace {

vantor::Environment& env() { return vantor::Environment::instance(); }

TEST(EnvironmentTest, LoadsWholeFilesOverEarlierValues) {
  test::ScopedEnvironment cleared;
  const std::string path = ::testing::TempDir() + "orvex-env-" + std::to_string(getpid());
  env().setValue("product", "before");
  std::ofstream(path) << "product=after\nno separator here\n";
  ResultStatus status = env().loadFile(path);
  EXPECT_EQ(INVALID_PARAM, status.code);
  EXPECT_NE(std::string::npos, status.msg.find(path)) << status.msg;
  EXPECT_NE(std::string::npos, status.msg.find("line 2")) << status.msg;
  EXPECT_EQ("before", env().getProductName());
  status = env().loadFile("/nonexistent/orvex.conf");
  EXPECT_EQ(NOT_EXIST, status.code);
  EXPECT_NE(std::string::npos, status.msg.find("/nonexistent/orvex.conf"));

  env().setValue("version", "1");
  std::ofstream(path) << "# comment\n\n  fc_key = AK1 \r\nfc_secret=s=with=equals\nuser=trader7\n"
                         "user_name=Zhang\nproduct_number=12\nversion=3.4.5\nempty=\n";
  status = env().loadFile(path);
  std::remove(path.c_str());
  ASSERT_TRUE(status.ok()) << status.msg;
  EXPECT_EQ("AK1", env().getValue("fc_key", ""));
  EXPECT_EQ("s=with=equals", env().getValue("fc_secret", ""));
  EXPECT_EQ("", env().getValue("empty", "dflt"));
  EXPECT_EQ("Zhang", env().getUserInfo().name);
  EXPECT_EQ("before", env().getProductName());
  EXPECT_EQ(12, env().getProductNumber());
  EXPECT_EQ("3.4.5", env().getVersion());
  env().setValue("product_number", "twelve");
  EXPECT_EQ(0, env().getProductNumber());
}

TEST(EnvironmentTest, ConfigAuthServiceServesConfiguration) {
  test::ScopedEnvironment cleared;
  ConfigAuthService service;
  std::string token = "stale";
  AccessInfo info;
  ASSERT_TRUE(service.fetchToken(TokenRequest{}, token).ok());
  EXPECT_EQ("", token);
  EXPECT_EQ(NOT_AUTH_SETTING, service.fetchAccessInfo(2, info).code);

  for (const char* key : {"token", "user", "access_key", "access_secret"}) env().setValue(key, key);
  ASSERT_TRUE(service.fetchToken(TokenRequest{}, token).ok());
  ASSERT_TRUE(service.fetchAccessInfo(2, info).ok());
  EXPECT_EQ("token", token);
  EXPECT_EQ("user access_key access_secret", info.user + " " + info.key + " " + info.secret);
}

}  // namespace
}  // namespace orvex
