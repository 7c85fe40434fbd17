// The plug-in as a host sees it: loaded with dlopen, reached only through the factory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "HistoryAPIFactory.h"
#include "LogCapture.h"
#include "PluginLoader.h"
#include "RecordingHistorySpi.h"

namespace orvex {
namespace test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(PluginLoadTest, RegistersUnderTypeFiveAndRunsTheLifecycle) {
  // Nothing links the plug-in into this test, so only dlopen can register it.
  EXPECT_FALSE(HistoryAPIFactory::Instance().HasObject(5));
  PluginLoader loader;
  ASSERT_TRUE(loader.ok()) << loader.error();
  ASSERT_TRUE(HistoryAPIFactory::Instance().HasObject(5));

  std::unique_ptr<IHistoryApi> api = loader.create();
  ASSERT_NE(api, nullptr);
  LogCapture capture;
  ResultStatus status = api->init(3);
  EXPECT_EQ(status.code, OK);
  EXPECT_EQ(status.msg, "");
  api->release();
  api->release();
  api.reset();

  std::vector<std::string> lines;
  for (const LogCapture::Entry& e : capture.entries()) lines.push_back(e.level + " " + e.text);
  EXPECT_THAT(lines, ElementsAre("DEBUG [DEBUG] DaZaviVor HistoryWrapper init,threadNum=3",
                                 "TRACE [TRACE] DaZaviVor HistoryWrapper::release start",
                                 "TRACE [TRACE] DaZaviVor HistoryWrapper::release end",
                                 "TRACE [TRACE] DaZaviVor HistoryWrapper::release start",
                                 "TRACE [TRACE] DaZaviVor HistoryWrapper::release end",
                                 // the destructor releases once more
                                 "TRACE [TRACE] DaZaviVor HistoryWrapper::release start",
                                 "TRACE [TRACE] DaZaviVor HistoryWrapper::release end"));
}

TEST(PluginLoadTest, EachCreatorCallMakesANewWrapper) {
  PluginLoader loader;
  ASSERT_TRUE(loader.ok()) << loader.error();
  std::unique_ptr<IHistoryApi> first = loader.create();
  std::unique_ptr<IHistoryApi> second = loader.create();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(first->getServerName(), "");
}

TEST(PluginLoadTest, RefusesAThreadCountBelowOne) {
  PluginLoader loader;
  ASSERT_TRUE(loader.ok()) << loader.error();
  std::unique_ptr<IHistoryApi> api = loader.create();
  ASSERT_NE(api, nullptr);
  for (int32_t threads : {0, -1}) {
    ResultStatus status = api->init(threads);
    EXPECT_EQ(status.code, INVALID_PARAM) << threads;
    EXPECT_THAT(status.msg, HasSubstr("threadNum")) << threads;
  }
  // Without pools the wrapper still releases and destroys cleanly.
  api->release();
}

// Requests that are refused or fail without reaching a service: no network is needed.
class RequestWithoutServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(loader.ok()) << loader.error();
    api = loader.create();
    ASSERT_NE(api, nullptr);
  }

  static TopicReq rangeReq(std::vector<std::string> targets) {
    TopicReq req;
    req.key = "k";
    req.targets = std::move(targets);
    req.beginTime = 1;
    req.endTime = 100;
    req.maxCount = 10;
    return req;
  }

  PluginLoader loader;
  RecordingHistorySpi spi;  // outlives the wrapper, whose pools deliver to it
  std::unique_ptr<IHistoryApi> api;
  bool cancel = false;
};

TEST_F(RequestWithoutServiceTest, NullSpiIsRefusedBeforeFetching) {
  ASSERT_EQ(api->init(1).code, OK);
  ResultStatus status = api->reqData(rangeReq({"a"}), nullptr, 1, cancel);
  EXPECT_EQ(status.code, INVALID_PARAM);
  EXPECT_THAT(status.msg, HasSubstr("spi"));
}

TEST_F(RequestWithoutServiceTest, RangeRequestNeedsExactlyOneTarget) {
  ASSERT_EQ(api->init(2).code, OK);
  LogCapture capture;
  for (const auto& targets : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
    ResultStatus status = api->reqData(rangeReq(targets), &spi, 7, cancel);
    EXPECT_EQ(status.code, INVALID_PARAM);
    // "参数错误,仅支持1个标的" in GBK
    EXPECT_EQ(status.msg,
              "\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3,\xBD\xF6\xD6\xA7\xB3\xD6"
              "1\xB8\xF6\xB1\xEA\xB5\xC4");
  }
  api->release();  // runs whatever was queued
  EXPECT_EQ(spi.count(), 0u);
  EXPECT_TRUE(capture.linesContaining("reqDataByRange").empty());
}

TEST_F(RequestWithoutServiceTest, BeforeInitTheResultReturnsButNothingIsDelivered) {
  // Not connected: the client has no session, so the first step fails.
  ResultStatus status = api->reqData(rangeReq({"a"}), &spi, 3, cancel);
  EXPECT_NE(status.code, OK);
  ASSERT_EQ(api->init(1).code, OK);
  api->release();
  EXPECT_EQ(spi.count(), 0u);
}

TEST_F(RequestWithoutServiceTest, SecondInitReplacesThePoolsAndKeepsDelivering) {
  ASSERT_EQ(api->init(2).code, OK);
  api->reqData(rangeReq({"a"}), &spi, 1, cancel);
  ASSERT_EQ(api->init(3).code, OK);
  // The first group ran what it held before it was freed.
  EXPECT_EQ(spi.deliveries(1).size(), 2u);
  api->reqData(rangeReq({"a"}), &spi, 2, cancel);
  EXPECT_TRUE(spi.waitForLast(2, std::chrono::seconds(10)));
}

TEST_F(RequestWithoutServiceTest, ConnectToAClosedPortFailsAndKeepsTheName) {
  ResultStatus status = api->connect("127.0.0.1:1");
  EXPECT_NE(status.code, OK);
  EXPECT_EQ(api->getServerName(), "");
}

}  // namespace
}  // namespace test
}  // namespace orvex
