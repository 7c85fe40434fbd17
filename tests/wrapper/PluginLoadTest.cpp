// The plug-in as a host sees it: loaded with dlopen, reached only through the factory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "LogCapture.h"
#include "PluginLoader.h"
#include "orvex/HistoryAPIFactory.h"

namespace orvex {
namespace test {
namespace {

TEST(PluginLoadTest, RegistersUnderTypeFiveAndRunsTheLifecycle) {
  // Nothing links the plug-in into this test, so only dlopen can register it.
  EXPECT_FALSE(HistoryAPIFactory::Instance().HasObject(5));
  PluginLoader loader;
  ASSERT_TRUE(loader.ok()) << loader.error();
  ASSERT_TRUE(HistoryAPIFactory::Instance().HasObject(5));

  std::unique_ptr<IHistoryApi> api = loader.create();
  ASSERT_NE(api, nullptr);
  EXPECT_NE(loader.create().get(), api.get());  // each call makes a new wrapper
  LogCapture capture;
  EXPECT_EQ(api->init(3).code, OK);
  api->release();
  api->release();
  api.reset();

  const std::string start = "[TRACE] DaZaviVor HistoryWrapper::release start";
  const std::string end = "[TRACE] DaZaviVor HistoryWrapper::release end";
  // Two explicit releases, then the destructor's.
  EXPECT_THAT(capture.lines(),
              ::testing::ElementsAre("[DEBUG] DaZaviVor HistoryWrapper init,threadNum=3", start,
                                     end, start, end, start, end));
}

}  // namespace
}  // namespace test
}  // namespace orvex
