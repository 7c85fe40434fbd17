// HistoryAPIFactory: registration, creation by type id, and concurrent use. Type ids from 1000 on
// keep clear of the plug-in's own registration in the shared process-wide factory.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "orvex/HistoryAPIFactory.h"

namespace orvex {
namespace {

// A do-nothing implementation that remembers which creator made it.
class FakeApi : public IHistoryApi {
 public:
  explicit FakeApi(int tag) : tag(tag) {}
  const int tag;

  ResultStatus init(int32_t) override { return {}; }
  ResultStatus connect(const std::string&) override { return {}; }
  void release() override {}
  ResultStatus reqData(const TopicReq&, IHistorySpi*, int32_t, bool&) override { return {}; }
  ResultStatus getLastData(const std::string&, const std::vector<std::string>&,
                           std::vector<CloudTopic>&) override {
    return {};
  }
  ResultStatus getData(const TopicKey&, int64_t, int64_t, int32_t, CloudTopic&) override {
    return {};
  }
  ResultStatus getDataCache(const TopicKey&, CloudTopic&) override { return {}; }
  std::string getServerName() override { return "fake"; }

 protected:
  const HqHistoryApi* getHqHistoryApi() const override { return nullptr; }
};

int tagOf(IHistoryApi* api) {
  std::unique_ptr<IHistoryApi> owned(api);
  return api ? dynamic_cast<FakeApi&>(*api).tag : -1;
}

TEST(HistoryAPIFactoryTest, CreatesFromTheLatestRegisteredCreatorOnly) {
  HistoryAPIFactory& factory = HistoryAPIFactory::Instance();
  EXPECT_FALSE(factory.HasObject(1000));
  EXPECT_EQ(nullptr, factory.CreateObject(1000));
  EXPECT_EQ(-1, factory.RegisterObject(1000, HistoryAPIFactory::Creator()));
  EXPECT_FALSE(factory.HasObject(1000));

  EXPECT_EQ(0, factory.RegisterObject(1000, [] { return new FakeApi(1); }));
  EXPECT_EQ(1, tagOf(factory.CreateObject(1000)));
  // Creation runs outside the factory's lock, so a creator that consults it does not deadlock.
  EXPECT_EQ(0, factory.RegisterObject(
                   1000, [&factory] { return new FakeApi(factory.HasObject(1000) ? 2 : 0); }));
  EXPECT_EQ(2, tagOf(factory.CreateObject(1000)));
}

TEST(HistoryAPIFactoryTest, ConcurrentRegistrationAndCreation) {
  HistoryAPIFactory& factory = HistoryAPIFactory::Instance();
  std::atomic<int> wrongTags{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        // Only this thread registers its id, so it must get its own latest creator back.
        factory.RegisterObject(1100 + t, [round] { return new FakeApi(round); });
        if (tagOf(factory.CreateObject(1100 + t)) != round) ++wrongTags;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, wrongTags.load());
}

}  // namespace
}  // namespace orvex
