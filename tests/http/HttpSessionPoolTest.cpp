// HttpSessionPool: registration, hand-out, replacement of dropped sessions. Exclusive hand-out to
// threads at once is the client's test (ThreadsShareOneTokenRefreshAndNeverShareASession).
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <vector>

#include "orvex/HttpSessionPool.h"

namespace orvex {
namespace {

const std::string kKey = "http://127.0.0.1:8080";
const std::string kOther = "http://127.0.0.1:9999";

// A session that never talks to a server.
struct FakeSession : KvHttp {};

TEST(HttpSessionPool, HandsOutIdleSessionsAndReplacesDroppedOnes) {
  HttpSessionPool pool;
  std::vector<std::string> hostsSeen;
  pool.setSessionFactory([&hostsSeen](const SessionOptions& options) {
    hostsSeen.push_back(boost::any_cast<std::string>(options.at("Host")));
    return std::make_shared<FakeSession>();
  });
  EXPECT_EQ(pool.addSession({{"Record-Log", false}}, 2).code, INVALID_PARAM);
  EXPECT_EQ(pool.addSession({{"Host", 8080}}, 2).code, INVALID_PARAM);
  ASSERT_TRUE(pool.addSession({{"Host", kKey}}, 1).ok());
  EXPECT_EQ(pool.pop(kOther), nullptr);

  std::shared_ptr<KvHttp> first = pool.pop(kKey);
  pool.push(kKey, first);
  pool.push(kKey, first);
  pool.push(kKey, nullptr);
  pool.push(kOther, std::make_shared<FakeSession>());
  EXPECT_EQ(pool.idleCount(kKey), 1u);
  EXPECT_EQ(pool.idleCount(kOther), 0u);
  EXPECT_EQ(pool.pop(kKey), first);
  std::set<std::shared_ptr<KvHttp>> handedOut{first};
  for (int i = 0; i < 9; ++i) handedOut.insert(pool.pop(kKey));  // never pushed back: dropped
  EXPECT_EQ(handedOut.size(), 10u);
  EXPECT_EQ(handedOut.count(nullptr), 0u);
  EXPECT_EQ(hostsSeen, std::vector<std::string>(10, kKey));

  pool.setSessionFactory([](const SessionOptions&) -> std::shared_ptr<KvHttp> {
    throw std::runtime_error("no sockets left");
  });
  EXPECT_FALSE(pool.addSession({{"Host", kOther}}, 2).ok());
  EXPECT_EQ(pool.pop(kKey), nullptr);
}

}  // namespace
}  // namespace orvex
