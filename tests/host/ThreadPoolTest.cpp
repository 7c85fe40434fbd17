// The default worker pool: job failures, back-pressure, draining stop, refusals.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "orvex/ThreadPoolBase.h"

namespace orvex {
namespace {

std::unique_ptr<ThreadPoolBase> startedPool(int32_t threads, int32_t capacity) {
  std::unique_ptr<ThreadPoolBase> pool(ThreadPoolBase::create());
  pool->setParam(ThreadPoolParam{threads, capacity, "test"});
  EXPECT_TRUE(pool->start().ok());
  return pool;
}

// Jobs running in order on one thread: the wrapper's WorkerPoolTest, whose pools are these.
TEST(ThreadPoolTest, AThrowingJobIsLoggedWithThePoolsNameAndTheNextJobRuns) {
  test::LogCapture capture(log4cxx::Level::getError(), "ThreadPool");
  auto pool = startedPool(1, 10);
  bool ran = false;  // read once the pool stopped, which joins its worker
  ASSERT_TRUE(pool->submit([] { throw std::runtime_error("boom"); }).ok());
  ASSERT_TRUE(pool->submit([] { throw 42; }).ok());
  ASSERT_TRUE(pool->submit([&ran] { ran = true; }).ok());
  pool->stop();
  EXPECT_TRUE(ran);
  EXPECT_EQ(1u, capture.linesContaining("boom").size());
  EXPECT_EQ(2u, capture.linesContaining("test").size());  // the pool's name is in both lines
}

TEST(ThreadPoolTest, FullQueueMakesSubmitWaitInsteadOfDropping) {
  auto pool = startedPool(1, 2);
  std::vector<int> ran;
  std::promise<void> gate;  // holds the worker, leaving the queue to fill
  ASSERT_TRUE(pool->submit([opened = gate.get_future().share()] { opened.wait(); }).ok());
  while (pool->queuedCount() > 0) std::this_thread::yield();
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(pool->submit([&ran, i] { ran.push_back(i); }).ok());

  std::atomic<bool> returned{false};
  ResultStatus third;
  std::thread submitter([&] {
    third = pool->submit([&ran] { ran.push_back(2); });
    returned = true;
  });
  // Give a wrong implementation ample chance to return early or to overfill the queue.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned.load());
  EXPECT_EQ(2u, pool->queuedCount());

  gate.set_value();
  submitter.join();
  EXPECT_TRUE(third.ok()) << third.toString();
  pool->stop();
  EXPECT_EQ((std::vector<int>{0, 1, 2}), ran);
}

TEST(ThreadPoolTest, StopFromAJobDrainsTheQueueThenRefuses) {
  std::unique_ptr<ThreadPoolBase> pool(ThreadPoolBase::create());
  pool->setParam(ThreadPoolParam{1, 1, "test"});
  EXPECT_EQ(NOT_CONNECT, pool->submit([] {}).code);  // not started yet
  ASSERT_TRUE(pool->start().ok());
  EXPECT_EQ(INVALID_PARAM, pool->start().code);
  EXPECT_EQ(INVALID_PARAM, pool->submit(std::function<void()>()).code);
  std::vector<int> ran;
  ResultStatus stopped, late;
  std::promise<void> done;
  pool->submit([&] {
    ran.push_back(0);
    // The queue holds one: waiting for room here would wait on this very worker.
    pool->submit([&ran] { ran.push_back(1); });
    pool->submit([&ran] { ran.push_back(2); });
    stopped = pool->stop();  // must return: no self-join
    late = pool->submit([&ran] { ran.push_back(3); });
    done.set_value();
  });
  done.get_future().wait();
  EXPECT_TRUE(pool->stop().ok());  // idempotent
  EXPECT_EQ(INVALID_PARAM, pool->start().code);
  pool.reset();  // joins the worker, which first drains what was queued
  EXPECT_TRUE(stopped.ok()) << stopped.toString();
  EXPECT_EQ(NOT_CONNECT, late.code);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), ran);
}

}  // namespace
}  // namespace orvex
