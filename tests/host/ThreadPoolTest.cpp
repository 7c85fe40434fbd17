// The default worker pool: order, back-pressure, draining stop, refusals, job failures.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "orvex/ThreadPoolBase.h"

namespace orvex {
namespace {

// A gate that jobs wait on until the test opens it.
class Gate {
 public:
  Gate() : future_(promise_.get_future().share()) {}
  void open() { promise_.set_value(); }
  void wait() const { future_.wait(); }

 private:
  std::promise<void> promise_;
  std::shared_future<void> future_;
};

// Appends from pool jobs; read after the pool stopped or under its own lock.
class Journal {
 public:
  void add(int value) {
    std::lock_guard<std::mutex> lock(mutex_);
    values_.push_back(value);
  }
  std::vector<int> values() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return values_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int> values_;
};

std::vector<int> range(int n) {
  std::vector<int> out;
  for (int i = 0; i < n; ++i) out.push_back(i);
  return out;
}

std::unique_ptr<ThreadPoolBase> startedPool(int32_t threads, int32_t capacity) {
  std::unique_ptr<ThreadPoolBase> pool(ThreadPoolBase::create());
  pool->setParam(ThreadPoolParam{threads, capacity, "test"});
  EXPECT_TRUE(pool->start().ok());
  return pool;
}

// Submits a job that signals when it begins and then waits on `gate`; returns once it runs.
void occupyWorker(ThreadPoolBase& pool, const Gate& gate) {
  std::promise<void> started;
  std::future<void> running = started.get_future();
  ASSERT_TRUE(pool.submit([&started, &gate] {
                    started.set_value();
                    gate.wait();
                  })
                  .ok());
  running.wait();
}

TEST(ThreadPoolTest, OneThreadRunsJobsInSubmissionOrder) {
  auto pool = startedPool(1, 60000);
  Journal journal;
  for (int i = 0; i < 2000; ++i) ASSERT_TRUE(pool->submit([&journal, i] { journal.add(i); }).ok());
  pool->stop();
  EXPECT_EQ(range(2000), journal.values());
}

TEST(ThreadPoolTest, FullQueueMakesSubmitWaitInsteadOfDropping) {
  auto pool = startedPool(1, 2);
  Gate gate;
  Journal journal;
  occupyWorker(*pool, gate);
  ASSERT_TRUE(pool->submit([&journal] { journal.add(0); }).ok());
  ASSERT_TRUE(pool->submit([&journal] { journal.add(1); }).ok());
  ASSERT_EQ(2u, pool->queuedCount());

  std::atomic<bool> returned{false};
  ResultStatus third;
  std::thread submitter([&] {
    third = pool->submit([&journal] { journal.add(2); });
    returned = true;
  });
  // Give a wrong implementation ample chance to return early or to overfill the queue.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned.load());
  EXPECT_EQ(2u, pool->queuedCount());

  gate.open();
  submitter.join();
  EXPECT_TRUE(third.ok()) << third.toString();
  pool->stop();
  EXPECT_EQ(range(3), journal.values());
}

TEST(ThreadPoolTest, StopRunsQueuedJobsThenRefuses) {
  auto pool = startedPool(1, 100);
  Gate gate;
  std::atomic<int> ran{0};
  occupyWorker(*pool, gate);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(pool->submit([&ran] { ++ran; }).ok());

  std::thread stopper([&] { pool->stop(); });
  // Wait until stop() has begun: submits start failing. Any that still got in must run too.
  int extra = 0;
  while (pool->submit([&ran] { ++ran; }).ok()) ++extra;
  gate.open();
  stopper.join();

  EXPECT_EQ(10 + extra, ran.load());
  bool ranLate = false;
  ResultStatus late = pool->submit([&ranLate] { ranLate = true; });
  EXPECT_EQ(NOT_CONNECT, late.code);
  EXPECT_TRUE(pool->stop().ok());  // idempotent
  EXPECT_FALSE(ranLate);
}

TEST(ThreadPoolTest, LifecycleMisuseIsRefused) {
  std::unique_ptr<ThreadPoolBase> pool(ThreadPoolBase::create());
  bool ran = false;
  EXPECT_EQ(NOT_CONNECT, pool->submit([&ran] { ran = true; }).code);
  EXPECT_EQ(INVALID_PARAM, pool->submit(std::function<void()>()).code);
  ASSERT_TRUE(pool->start().ok());
  EXPECT_EQ(INVALID_PARAM, pool->start().code);
  EXPECT_EQ(INVALID_PARAM, pool->submit(std::function<void()>()).code);
  pool->stop();
  EXPECT_EQ(INVALID_PARAM, pool->start().code);
  EXPECT_FALSE(ran);
}

TEST(ThreadPoolTest, ThrowingJobIsLoggedAndTheWorkerGoesOn) {
  test::LogCapture capture(log4cxx::Level::getError(), "ThreadPool");
  auto pool = startedPool(1, 10);
  Journal journal;
  pool->submit([] { throw std::runtime_error("boom"); });
  pool->submit([] { throw 42; });
  pool->submit([&journal] { journal.add(1); });
  pool->stop();
  EXPECT_EQ(std::vector<int>{1}, journal.values());
  EXPECT_EQ(1u, capture.linesContaining("boom").size());
  EXPECT_EQ(2u, capture.linesContaining("test").size());  // the pool's name is in both lines
}

TEST(ThreadPoolTest, JobMayStopItsOwnPool) {
  auto pool = startedPool(1, 10);
  Journal journal;
  std::promise<ResultStatus> stopped;
  std::future<ResultStatus> stopResult = stopped.get_future();
  Gate gate;
  pool->submit([&] {
    gate.wait();  // let the test queue more jobs first
    stopped.set_value(pool->stop());
    journal.add(0);
  });
  pool->submit([&journal] { journal.add(1); });
  pool->submit([&journal] { journal.add(2); });
  gate.open();
  EXPECT_TRUE(stopResult.get().ok());  // returned: no self-join
  EXPECT_EQ(NOT_CONNECT, pool->submit([] {}).code);
  pool.reset();  // joins the worker, which first drains what was queued
  EXPECT_EQ(range(3), journal.values());
}

TEST(ThreadPoolTest, JobMaySubmitToItsOwnFullPool) {
  auto pool = startedPool(1, 1);
  Journal journal;
  std::promise<void> done;
  pool->submit([&] {
    journal.add(0);
    // Waiting for room here would wait on this very worker.
    pool->submit([&journal] { journal.add(1); });
    pool->submit([&journal] { journal.add(2); });
    pool->submit([&] {
      journal.add(3);
      done.set_value();
    });
  });
  done.get_future().wait();
  pool->stop();
  EXPECT_EQ(range(4), journal.values());
}

TEST(ThreadPoolTest, SeveralThreadsRunEveryJob) {
  std::atomic<int> ran{0};
  {
    auto pool = startedPool(4, 0);  // a capacity below one counts as one
    std::vector<std::thread> submitters;
    for (int t = 0; t < 4; ++t) {
      submitters.emplace_back([&] {
        for (int i = 0; i < 500; ++i) pool->submit([&ran] { ++ran; });
      });
    }
    for (std::thread& t : submitters) t.join();
  }  // the destructor stops and drains
  EXPECT_EQ(2000, ran.load());
}

}  // namespace
}  // namespace orvex
