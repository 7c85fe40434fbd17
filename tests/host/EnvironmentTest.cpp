// The configuration object (file loading, run-time values, derived getters) and the service
// router with its configuration-backed authentication service.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "orvex/Environment.h"
#include "orvex/IServiceRouter.h"

namespace orvex {
namespace {

// A configuration file that lives as long as the object.
class TempFile {
 public:
  explicit TempFile(const std::string& content) {
    char name[] = "/tmp/orvex-env-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
    std::ofstream(path_, std::ios::binary) << content;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class EnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override { env().clear(); }
  void TearDown() override { env().clear(); }
  static vantor::Environment& env() { return vantor::Environment::instance(); }
};

TEST_F(EnvironmentTest, LoadsKeyValueLines) {
  TempFile file(
      "# comment\n"
      "\n"
      "  fc_key = AK1 \r\n"
      "fc_secret=s=with=equals\n"
      "user=trader7\n"
      "user_name=Zhang\n"
      "user_group=desk\n"
      "product=quant\n"
      "product_number=12\n"
      "version=3.4.5\n"
      "empty=\n");
  ASSERT_TRUE(env().loadFile(file.path()).ok());
  EXPECT_EQ("AK1", env().getValue("fc_key", ""));
  EXPECT_EQ("s=with=equals", env().getValue("fc_secret", ""));
  EXPECT_EQ("", env().getValue("empty", "dflt"));
  EXPECT_EQ("dflt", env().getValue("missing", "dflt"));

  vantor::UserInfo user = env().getUserInfo();
  EXPECT_EQ("trader7", user.user);
  EXPECT_EQ("Zhang", user.name);
  EXPECT_EQ("desk", user.group);
  EXPECT_EQ("", user.extra);
  EXPECT_EQ("quant", env().getProductName());
  EXPECT_EQ(12, env().getProductNumber());
  EXPECT_EQ("3.4.5", env().getVersion());
}

TEST_F(EnvironmentTest, LaterValuesReplaceEarlierOnes) {
  env().setValue("version", "1");
  TempFile file("version=2\n");
  ASSERT_TRUE(env().loadFile(file.path()).ok());
  EXPECT_EQ("2", env().getVersion());
  env().setValue("version", "3");
  EXPECT_EQ("3", env().getVersion());
}

TEST_F(EnvironmentTest, BadLineRefusesTheWholeFile) {
  env().setValue("product", "before");
  TempFile file("product=after\nno separator here\n");
  ResultStatus status = env().loadFile(file.path());
  EXPECT_EQ(INVALID_PARAM, status.code);
  EXPECT_NE(std::string::npos, status.msg.find(file.path())) << status.msg;
  EXPECT_NE(std::string::npos, status.msg.find("line 2")) << status.msg;
  EXPECT_EQ("before", env().getProductName());
}

TEST_F(EnvironmentTest, MissingFileIsReported) {
  ResultStatus status = env().loadFile("/nonexistent/orvex.conf");
  EXPECT_EQ(NOT_EXIST, status.code);
  EXPECT_NE(std::string::npos, status.msg.find("/nonexistent/orvex.conf"));
}

TEST_F(EnvironmentTest, MissingOrBadProductNumberIsZero) {
  EXPECT_EQ(0, env().getProductNumber());
  env().setValue("product_number", "twelve");
  EXPECT_EQ(0, env().getProductNumber());
}

class ServiceRouterTest : public EnvironmentTest {
 protected:
  void TearDown() override {
    IServiceRouter::instance().setAuthService(nullptr);
    EnvironmentTest::TearDown();
  }
};

TEST_F(ServiceRouterTest, ConfigAuthServiceServesConfiguration) {
  ConfigAuthService service;
  std::string token = "stale";
  ASSERT_TRUE(service.fetchToken(TokenRequest{13, {"history_quote_info"}}, token).ok());
  EXPECT_EQ("", token);

  AccessInfo info;
  EXPECT_EQ(NOT_AUTH_SETTING, service.fetchAccessInfo(2, info).code);

  env().setValue("token", "T0");
  env().setValue("user", "u");
  env().setValue("access_key", "k");
  env().setValue("access_secret", "s");
  env().setValue("access_extra", "e");
  ASSERT_TRUE(service.fetchToken(TokenRequest{}, token).ok());
  EXPECT_EQ("T0", token);
  ASSERT_TRUE(service.fetchAccessInfo(2, info).ok());
  EXPECT_EQ("u", info.user);
  EXPECT_EQ("k", info.key);
  EXPECT_EQ("s", info.secret);
  EXPECT_EQ("e", info.extra);
}

}  // namespace
}  // namespace orvex
