// Several threads querying one client at once: one token refresh for all of them, and no session
// in two exchanges at the same time.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ClientTestSupport.h"

namespace orvex {
namespace test {
namespace {

TEST(ConcurrencyTest, ThreadsShareOneTokenRefreshAndNeverShareASession) {
  ScriptedHttpServer server;
  ScopedEnvironment env;
  auto auth = std::make_shared<FakeAuthService>("tok-1");
  auth->setTokenDelay(std::chrono::milliseconds(100));
  HqHistoryApi api;
  HqHistoryApiTestPeer peer(api);
  std::atomic<int> violations{0};
  peer.pool().setSessionFactory([&violations](const SessionOptions& options) {
    return std::make_shared<ExclusiveUseSession>(options, violations);
  });
  server.setDefaultAnswer("/QryLast",
                          ScriptedAnswer::ok("a,1,1,x").after(std::chrono::milliseconds(2)));
  {
    // Start without a service so that the token cache is still empty when the threads begin.
    ScopedAuthService none(nullptr);
    std::string initTime;
    ASSERT_TRUE(api.init(server.url(), initTime, 4).ok());
  }
  ScopedAuthService installed(auth);

  const int threadCount = 8;
  const int queriesPerThread = 20;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < queriesPerThread; ++i) {
        std::vector<CloudTopic> out;
        if (!api.getLastData("k", {"a"}, out).ok() || out.size() != 1) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(violations.load(), 0);
  EXPECT_EQ(auth->tokenFetches(), 1);
  EXPECT_EQ(auth->maxConcurrentTokenFetches(), 1);
  auto requests = server.requestsTo("/QryLast");
  ASSERT_EQ(requests.size(), static_cast<size_t>(threadCount * queriesPerThread));
  for (const RecordedRequest& r : requests) EXPECT_EQ(r.header("kvauth"), "tok-1");
  // More threads than registered sessions: the pool made the rest, and every one came back.
  HttpSessionPool::Stats stats = peer.pool().stats();
  EXPECT_EQ(stats.pops, stats.pushes);
}

}  // namespace
}  // namespace test
}  // namespace orvex
