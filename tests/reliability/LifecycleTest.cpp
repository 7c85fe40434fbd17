// The wrapper's lifecycle under load: release, init again and destruction with deliveries queued,
// from the host's thread or from inside a delivery, and an allocation failure in the middle of a
// range walk. Each ends with every request's final batch delivered and a status the host can read.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <new>
#include <thread>
#include <utility>

#include "ReliabilitySupport.h"

// Fails, on demand, one large allocation of the calling thread: an out-of-memory at a chosen
// point of a request. Large ones only, so the failure lands in record and batch handling rather
// than in the stream buffers of the HTTP library, which turn it into a short read.
// GCC sees free() reach memory from operator new once the two below are inlined: they pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace allocfault {
constexpr std::size_t kLarge = 16 * 1024;
thread_local int64_t tSeen = -1;  // large allocations counted; -1 while not counting
thread_local int64_t tFailAt = 0;

// Counts from now on, failing large allocation number `failAt` (none when 0; stops counting when
// negative). Returns the count until now.
int64_t count(int64_t failAt) {
  tFailAt = failAt;
  return std::exchange(tSeen, failAt < 0 ? -1 : 0);
}
}  // namespace allocfault

void* operator new(std::size_t size) {
  if (size >= allocfault::kLarge && allocfault::tSeen >= 0 &&
      ++allocfault::tSeen == allocfault::tFailAt) {
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace orvex::test::reliability {
namespace {

constexpr int kRequests = 24;
constexpr auto kEnds = std::chrono::minutes(1);  // bounds the waits; a hang fails instead

TopicReq req(int i) {  // three steps: four deliveries each
  return TopicReq{
      "tick", {DataSet::targets()[i % 4]}, DataSet::kBase, DataSet::lastTickTime(), 2100};
}

enum class Teardown { kDelete, kInitAgain, kRelease };

struct TeardownCase {
  const char* name;
  Teardown action;
  int actors;  // 0: the host thread acts; n: requests 0..n-1, in their last batch's callback
};
void PrintTo(const TeardownCase& c, std::ostream* os) { *os << c.name; }

// The host releases, re-initialises or deletes the wrapper while deliveries are queued behind a
// callback that has not returned: from its own thread right after the requests, or from inside
// onReqData on a pool thread (while the acting request's reqData may still be returning). Every
// queued delivery still reaches the host, in order.
class LifecycleTest : public ::testing::TestWithParam<TeardownCase> {};

TEST_P(LifecycleTest, EveryQueuedDeliveryArrives) {
  const TeardownCase& c = GetParam();
  PluginHost host;
  ASSERT_TRUE(host.start(3));
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::atomic<int> acted{0};
  ResultStatus initAgain;
  const auto act = [&] {
    if (c.action == Teardown::kDelete) delete host.api.release();
    if (c.action == Teardown::kInitAgain) initAgain = host.api->init(2);
    if (c.action == Teardown::kRelease) host.api->release();
    ++acted;
  };
  host.spi.setObserver([&, opened](const Delivery& d) {
    if (d.requestId >= c.actors) return opened.wait();  // holds the pools
    if (d.isLast) act();
  });
  std::vector<ResultStatus> results(kRequests);
  bool cancel = false;
  for (int i = kRequests - 1; i >= 0; --i) {  // the actors last, behind queued deliveries
    results[i] = host.api->reqData(req(i), &host.spi, i, cancel);
  }
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gate.set_value();
  });
  if (c.actors == 0) act();
  opener.join();

  for (int i = 0; i < 60000 && acted < std::max(c.actors, 1); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GE(acted, std::max(c.actors, 1)) << "the teardown did not end";
  for (int i = 0; i < kRequests; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(host.spi.waitForLast(i, kEnds));
    EXPECT_EQ(results[i].code, OK);
    EXPECT_TRUE(deliveriesHold(host.spi.deliveries(i), results[i], req(i)));
  }
  if (c.action == Teardown::kDelete) return;
  if (c.action == Teardown::kRelease) initAgain = host.api->init(2);
  ASSERT_EQ(initAgain.code, OK);
  EXPECT_EQ(host.run(req(1), 501).code, OK);  // the wrapper serves on
}

INSTANTIATE_TEST_SUITE_P(
    Teardowns, LifecycleTest,
    ::testing::Values(TeardownCase{"ReleaseOnHostThread", Teardown::kRelease, 0},
                      TeardownCase{"DeleteOnHostThread", Teardown::kDelete, 0},
                      TeardownCase{"DeleteInLastCallback", Teardown::kDelete, 1},
                      TeardownCase{"InitAgainInLastCallback", Teardown::kInitAgain, 1},
                      TeardownCase{"ReleaseFromTwoPools", Teardown::kRelease, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Every large allocation of a three-step range walk fails in turn: each run still ends with its
// final batch, which carries the status reqData returns.
TEST(AllocationFailureTest, AnyLargeAllocationFailingEndsTheWalkWithItsFinalBatch) {
  PluginHost host;
  ASSERT_TRUE(host.start(2));
  const TopicReq request = req(0);
  ASSERT_EQ(host.run(request, 0).code, OK);  // token and sessions in place
  bool cancel = false;
  allocfault::count(0);
  ASSERT_EQ(host.api->reqData(request, &host.spi, 1, cancel).code, OK);
  const int64_t large = allocfault::count(-1);
  ASSERT_GE(large, 3) << "at least one per step";

  for (int64_t n = 1; n <= large; ++n) {
    SCOPED_TRACE(n);
    const int32_t id = static_cast<int32_t>(100 + n);
    allocfault::count(n);
    const ResultStatus result = host.api->reqData(request, &host.spi, id, cancel);
    const bool failed = allocfault::count(-1) >= n;
    ASSERT_TRUE(host.spi.waitForLast(id, kEnds));
    const std::vector<Delivery> got = host.spi.deliveries(id);
    EXPECT_EQ(got.back().status.toString(), result.toString());
    EXPECT_TRUE(failed ? isClearFailure(result) : deliveriesHold(got, result, request));
  }
}

}  // namespace
}  // namespace orvex::test::reliability
