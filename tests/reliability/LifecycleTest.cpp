// The wrapper's lifecycle under load: release and destruction right after requests, teardown from
// inside a delivery, and an allocation failure in the middle of a range walk. Each ends with every
// request's final batch delivered and a status the host can read.

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <new>
#include <thread>

#include "ReliabilitySupport.h"

// Fails, on demand, one large allocation of the calling thread: an out-of-memory at a chosen
// point of a request. Large ones only, so the failure lands in record and batch handling rather
// than in the stream buffers of the HTTP library, which turn it into a short read.
// GCC sees free() reach memory from operator new once the two below are inlined: they pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace allocfault {
constexpr std::size_t kLarge = 16 * 1024;
thread_local int64_t tSeen = -1;  // large allocations since arm(); -1 while disarmed
thread_local int64_t tFailAt = 0;

void arm(int64_t failAt) {
  tSeen = 0;
  tFailAt = failAt;
}
int64_t disarm() {
  const int64_t seen = tSeen;
  tSeen = -1;
  return seen;
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

// Waits until `done` reaches `n`; false when it does not within kEnds.
bool reaches(const std::atomic<int>& done, int n) {
  const auto until = std::chrono::steady_clock::now() + kEnds;
  while (done.load() < n && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done.load() >= n;
}

class LifecycleTest : public ::testing::TestWithParam<bool> {};  // true: release, or destroy

TEST_P(LifecycleTest, RightAfterRequestsEverythingQueuedIsDelivered) {
  LocalService service(hqserver::ServerOptions(), DataSet::store());
  PluginHost host;
  ASSERT_TRUE(host.start(3, service.url()));
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  host.spi.setObserver([opened](const Delivery&) { opened.wait(); });  // holds every pool
  std::vector<ResultStatus> results(kRequests);
  std::vector<std::thread> hosts;
  for (int t = 0; t < 4; ++t) {
    hosts.emplace_back([&, t] {
      bool cancel = false;
      for (int i = t; i < kRequests; i += 4) {
        results[i] = host.api->reqData(req(i), &host.spi, i, cancel);
      }
    });
  }
  for (std::thread& h : hosts) h.join();
  EXPECT_LE(host.spi.count(), 3u) << "one delivery per pool at most before the gate opens";
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    gate.set_value();
  });
  GetParam() ? host.api->release() : host.api.reset();
  opener.join();
  for (int i = 0; i < kRequests; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[i].code, OK);
    EXPECT_TRUE(deliveriesHold(host.spi.deliveries(i), results[i], req(i)));
  }
  if (!GetParam()) return;
  // init after release serves again with new pools.
  ASSERT_EQ(host.api->init(2).code, OK);
  EXPECT_EQ(host.run(req(1), 501).code, OK);
}

INSTANTIATE_TEST_SUITE_P(ReleaseOrDestroy, LifecycleTest, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "Release" : "Destroy");
});

enum class Teardown { kDelete, kInitAgain, kRelease };

struct TeardownCase {
  const char* name;
  Teardown action;
  int actors;  // requests 0 .. actors-1 act in the callback of their last batch
};

// The host tears the wrapper down from inside onReqData, on a pool thread, while other pools
// still hold queued deliveries and the request's own reqData may still be returning.
class TeardownInDeliveryTest : public ::testing::TestWithParam<TeardownCase> {};

TEST_P(TeardownInDeliveryTest, EndsCleanlyWithEveryRequestsLastBatchDelivered) {
  const TeardownCase& c = GetParam();
  LocalService service(hqserver::ServerOptions(), DataSet::store());
  PluginHost host;
  ASSERT_TRUE(host.start(3, service.url()));
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::atomic<int> acted{0};
  host.spi.setObserver([&, opened](const Delivery& d) {
    if (d.requestId >= c.actors) return opened.wait();  // keeps the other pools busy
    if (!d.isLast) return;
    switch (c.action) {
      case Teardown::kDelete:
        delete host.api.release();
        break;
      case Teardown::kInitAgain:
        EXPECT_EQ(host.api->init(2).code, OK);
        break;
      case Teardown::kRelease:
        host.api->release();
        break;
    }
    ++acted;
  });
  std::vector<ResultStatus> results(kRequests);
  bool cancel = false;
  for (int i = kRequests - 1; i >= 0; --i) {  // the actors last, behind queued deliveries
    results[i] = host.api->reqData(req(i), &host.spi, i, cancel);
  }
  gate.set_value();

  ASSERT_TRUE(reaches(acted, c.actors));
  for (int i = 0; i < kRequests; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(host.spi.waitForLast(i, kEnds));
    EXPECT_EQ(results[i].code, OK);
    EXPECT_TRUE(deliveriesHold(host.spi.deliveries(i), results[i], req(i)));
  }
  if (c.action == Teardown::kDelete) return;
  if (c.action == Teardown::kRelease) {
    ASSERT_EQ(host.api->init(2).code, OK);
  }
  EXPECT_EQ(host.run(req(1), 501).code, OK);  // the wrapper serves on
}

INSTANTIATE_TEST_SUITE_P(
    Actions, TeardownInDeliveryTest,
    ::testing::Values(TeardownCase{"DeleteInLastCallback", Teardown::kDelete, 1},
                      TeardownCase{"InitAgainInLastCallback", Teardown::kInitAgain, 1},
                      TeardownCase{"ReleaseFromTwoPools", Teardown::kRelease, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Every large allocation of a three-step range walk fails in turn: each run still ends with its
// final batch, which carries the status reqData returns.
TEST(AllocationFailureTest, AnyLargeAllocationFailingEndsTheWalkWithItsFinalBatch) {
  LocalService service(hqserver::ServerOptions(), DataSet::store());
  PluginHost host;
  ASSERT_TRUE(host.start(2, service.url()));
  const TopicReq request = req(0);
  ASSERT_EQ(host.run(request, 0).code, OK);  // token and sessions in place
  bool cancel = false;
  allocfault::arm(0);
  ASSERT_EQ(host.api->reqData(request, &host.spi, 1, cancel).code, OK);
  const int64_t large = allocfault::disarm();
  ASSERT_GE(large, 3) << "at least one per step";

  for (int64_t n = 1; n <= large; ++n) {
    SCOPED_TRACE(n);
    const int32_t id = static_cast<int32_t>(100 + n);
    allocfault::arm(n);
    const ResultStatus result = host.api->reqData(request, &host.spi, id, cancel);
    const bool failed = allocfault::disarm() >= n;
    ASSERT_TRUE(host.spi.waitForLast(id, kEnds));
    const Delivery last = host.spi.deliveries(id).back();
    EXPECT_EQ(last.status.toString(), result.toString());
    if (failed) {
      EXPECT_TRUE(isClearFailure(result));
    } else {
      EXPECT_TRUE(deliveriesHold(host.spi.deliveries(id), result, request));
    }
  }
}

}  // namespace
}  // namespace orvex::test::reliability
