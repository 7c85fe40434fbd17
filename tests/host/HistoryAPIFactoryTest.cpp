// HistoryAPIFactory: registration, creation by type id, and concurrent use. Type ids from 1000 on
// keep clear of the plug-in's own registration in the shared process-wide factory.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "HistoryAPIFactory.h"

namespace {

// A do-nothing implementation that remembers which creator made it.
class FakeApi : public orvex::IHistoryApi {
 public:
  explicit FakeApi(int tag) : tag(tag) {}
  const int tag;

  orvex::ResultStatus init(int32_t) override { return {}; }
  orvex::ResultStatus connect(const std::string&) override { return {}; }
  void release() override {}
  orvex::ResultStatus reqData(const orvex::TopicReq&, orvex::IHistorySpi*, int32_t,
                              bool&) override {
    return {};
  }
  orvex::ResultStatus getLastData(const std::string&, const std::vector<std::string>&,
                                  std::vector<orvex::CloudTopic>&) override {
    return {};
  }
  orvex::ResultStatus getData(const orvex::TopicKey&, int64_t, int64_t, int32_t,
                              orvex::CloudTopic&) override {
    return {};
  }
  orvex::ResultStatus getDataCache(const orvex::TopicKey&, orvex::CloudTopic&) override {
    return {};
  }
  std::string getServerName() override { return "fake"; }

 protected:
  const orvex::HqHistoryApi* getHqHistoryApi() const override { return nullptr; }
};

int tagOf(orvex::IHistoryApi* api) {
  std::unique_ptr<orvex::IHistoryApi> owned(api);
  auto* fake = dynamic_cast<FakeApi*>(owned.get());
  return fake ? fake->tag : -1;
}

TEST(HistoryAPIFactoryTest, CreatesFromTheRegisteredCreatorAndReplacesIt) {
  HistoryAPIFactory& factory = HistoryAPIFactory::Instance();
  EXPECT_EQ(&factory, &HistoryAPIFactory::Instance());

  EXPECT_EQ(0, factory.RegisterObject(1000, [] { return new FakeApi(1); }));
  EXPECT_TRUE(factory.HasObject(1000));
  EXPECT_EQ(1, tagOf(factory.CreateObject(1000)));

  EXPECT_EQ(0, factory.RegisterObject(1000, [] { return new FakeApi(2); }));
  EXPECT_EQ(2, tagOf(factory.CreateObject(1000)));
}

TEST(HistoryAPIFactoryTest, UnknownIdAndEmptyCreatorGiveNothing) {
  HistoryAPIFactory& factory = HistoryAPIFactory::Instance();
  EXPECT_FALSE(factory.HasObject(1001));
  EXPECT_EQ(nullptr, factory.CreateObject(1001));

  EXPECT_EQ(-1, factory.RegisterObject(1001, HistoryAPIFactory::Creator()));
  EXPECT_FALSE(factory.HasObject(1001));
  EXPECT_EQ(nullptr, factory.CreateObject(1001));
}

TEST(HistoryAPIFactoryTest, CreatorMayUseTheFactory) {
  // Creation runs outside the factory's lock, so a creator that consults it does not deadlock.
  HistoryAPIFactory& factory = HistoryAPIFactory::Instance();
  factory.RegisterObject(1002, [&factory] { return new FakeApi(factory.HasObject(1002) ? 7 : 0); });
  EXPECT_EQ(7, tagOf(factory.CreateObject(1002)));
}

TEST(HistoryAPIFactoryTest, ConcurrentRegistrationAndCreation) {
  HistoryAPIFactory& factory = HistoryAPIFactory::Instance();
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  std::atomic<int> wrongTags{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const int id = 1100 + t;
      for (int round = 0; round < kRounds; ++round) {
        factory.RegisterObject(id, [round] { return new FakeApi(round); });
        // Only this thread registers `id`, so it must get its own latest creator back.
        if (tagOf(factory.CreateObject(id)) != round) ++wrongTags;
        // Every thread also reads the others' entries while they change.
        factory.HasObject(1100 + (t + 1) % kThreads);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(0, wrongTags.load());
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(kRounds - 1, tagOf(factory.CreateObject(1100 + t)));
}

}  // namespace
