// The default worker pool behind ThreadPoolBase::create(): a bounded FIFO queue served by a fixed
// set of threads.
//
// Thread-safe. A job's exception is caught and logged at ERROR on the "ThreadPool" logger; the
// worker goes on with the next job. A job may submit to its own pool (the queue's bound is then
// not enforced, since waiting for room would wait on itself) and may call stop() (its own thread
// is then not joined; it drains the queue and ends after the job returns). A pool must not be
// destroyed from one of its own jobs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "orvex/ThreadPoolBase.h"

namespace orvex {

class DefaultThreadPool : public ThreadPoolBase {
 public:
  DefaultThreadPool() = default;
  ~DefaultThreadPool() override;

  void setParam(const ThreadPoolParam& param) override;
  ResultStatus start() override;
  size_t queuedCount() const override;
  ResultStatus submit(std::function<void()> job) override;
  ResultStatus stop() override;

 private:
  enum class State { kIdle, kRunning, kStopped };

  bool onWorkerThread() const;
  void workerLoop();
  void runJob(std::function<void()>& job);
  void joinWorkers();

  mutable std::mutex mutex_;          // guards state_, param_ and queue_
  std::condition_variable notEmpty_;  // a job was queued, or the pool stopped
  std::condition_variable notFull_;   // room freed in the queue, or the pool stopped
  State state_ = State::kIdle;
  ThreadPoolParam param_;
  std::deque<std::function<void()>> queue_;

  std::mutex threadsMutex_;  // guards threads_; never held together with mutex_ by stop()
  std::vector<std::thread> threads_;
};

}  // namespace orvex
