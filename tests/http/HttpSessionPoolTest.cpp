// HttpSessionPool: registration, exclusive hand-out, replacement of dropped sessions, statistics.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "orvex/HttpSessionPool.h"

namespace orvex {
namespace {

const std::string kKey = "http://127.0.0.1:8080";

SessionOptions optionsFor(const std::string& host) {
  return {{"Host", host}, {"Keep-Alive", OptKeepAlive{30000}}, {"Record-Log", false}};
}

// A session that never talks to a server; it notices being used by two holders at once.
class FakeSession : public KvHttp {
 public:
  explicit FakeSession(std::string host) : host(std::move(host)) {}
  std::string host;
  std::atomic<bool> busy{false};
};

TEST(HttpSessionPool, RegistersStringHostsOnlyAndMissesUnknownKeys) {
  HttpSessionPool pool;
  EXPECT_EQ(pool.addSession({{"Record-Log", false}}, 2).code, INVALID_PARAM);
  EXPECT_EQ(pool.addSession({{"Host", 8080}}, 2).code, INVALID_PARAM);
  EXPECT_TRUE(pool.addSession(optionsFor(kKey), 2).ok());
  EXPECT_TRUE(pool.addSession(optionsFor(kKey), 3).ok());

  EXPECT_EQ(pool.idleCount(kKey), 5u);
  EXPECT_EQ(pool.pop("http://127.0.0.1:9999"), nullptr);
  EXPECT_EQ(pool.pop(""), nullptr);
  pool.push("http://127.0.0.1:9999", std::make_shared<FakeSession>("x"));
  EXPECT_EQ(pool.idleCount("http://127.0.0.1:9999"), 0u);
  HttpSessionPool::Stats stats = pool.stats();
  EXPECT_EQ(stats.created, 5u);
  EXPECT_EQ(stats.misses, 2u);
  EXPECT_EQ(stats.pushes, 0u);
}

TEST(HttpSessionPool, PushedSessionIsReusedAndDoublePushIgnored) {
  HttpSessionPool pool;
  pool.addSession(optionsFor(kKey), 1);

  std::shared_ptr<KvHttp> first = pool.pop(kKey);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(pool.idleCount(kKey), 0u);
  pool.push(kKey, first);
  pool.push(kKey, first);
  pool.push(kKey, nullptr);

  EXPECT_EQ(pool.idleCount(kKey), 1u);
  EXPECT_EQ(pool.pop(kKey), first);
  EXPECT_NE(pool.pop(kKey), first);  // the one idle session is out again: a new one is made
  EXPECT_EQ(pool.stats().pushes, 1u);
}

TEST(HttpSessionPool, DroppedSessionsAreReplacedFromTheKeysOptions) {
  HttpSessionPool pool;
  std::vector<std::string> hostsSeen;
  pool.setSessionFactory([&hostsSeen](const SessionOptions& options) {
    hostsSeen.push_back(boost::any_cast<std::string>(options.at("Host")));
    return std::make_shared<FakeSession>(hostsSeen.back());
  });
  pool.addSession(optionsFor(kKey), 2);

  std::set<std::shared_ptr<KvHttp>> handedOut;
  for (int i = 0; i < 10; ++i) {
    std::shared_ptr<KvHttp> session = pool.pop(kKey);  // never pushed back: dropped
    ASSERT_NE(session, nullptr) << i;
    handedOut.insert(session);
  }

  EXPECT_EQ(handedOut.size(), 10u);
  EXPECT_EQ(hostsSeen, std::vector<std::string>(10, kKey));
  HttpSessionPool::Stats stats = pool.stats();
  EXPECT_EQ(stats.pops, 10u);
  EXPECT_EQ(stats.created, 10u);
  EXPECT_EQ(stats.pushes, 0u);
}

TEST(HttpSessionPool, FailingFactoryGivesEmptyPointerAndStatus) {
  HttpSessionPool pool;
  pool.setSessionFactory([](const SessionOptions&) -> std::shared_ptr<KvHttp> {
    throw std::runtime_error("no sockets left");
  });

  EXPECT_FALSE(pool.addSession(optionsFor(kKey), 2).ok());
  EXPECT_EQ(pool.pop(kKey), nullptr);
  EXPECT_EQ(pool.stats().pops, 0u);

  pool.setSessionFactory(nullptr);  // back to real sessions
  EXPECT_NE(pool.pop(kKey), nullptr);
}

TEST(HttpSessionPool, ConcurrentPopsNeverShareASession) {
  HttpSessionPool pool;
  pool.setSessionFactory([](const SessionOptions& options) {
    return std::make_shared<FakeSession>(boost::any_cast<std::string>(options.at("Host")));
  });
  pool.addSession(optionsFor(kKey), 3);
  std::atomic<int> shared{0};
  std::atomic<int> empty{0};
  constexpr int kThreads = 8;
  constexpr int kRounds = 2000;

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&pool, &shared, &empty, t] {
      for (int i = 0; i < kRounds; ++i) {
        auto session = std::static_pointer_cast<FakeSession>(pool.pop(kKey));
        if (!session) {
          ++empty;
          continue;
        }
        if (session->busy.exchange(true)) ++shared;
        std::this_thread::yield();
        session->busy = false;
        if ((i + t) % 50 != 0) pool.push(kKey, std::move(session));  // some are dropped
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(shared.load(), 0);
  EXPECT_EQ(empty.load(), 0);
  HttpSessionPool::Stats stats = pool.stats();
  EXPECT_EQ(stats.pops, static_cast<uint64_t>(kThreads * kRounds));
  EXPECT_EQ(stats.pops - stats.pushes, stats.created - pool.idleCount(kKey));
}

}  // namespace
}  // namespace orvex
