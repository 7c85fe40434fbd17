// The default worker pool: one mutex, two condition variables, a deque of jobs.
#include "DefaultThreadPool.h"

#include <log4cxx/logger.h>
#include <pthread.h>

#include <algorithm>
#include <exception>
#include <string>
#include <system_error>
#include <utility>

namespace orvex {
namespace {

log4cxx::LoggerPtr poolLogger() {
  static log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger("ThreadPool");
  return logger;
}

// The pool whose worker runs on this thread, if any: lets submit() and stop() spot calls made
// from one of the pool's own jobs.
thread_local const DefaultThreadPool* tCurrentPool = nullptr;

}  // namespace

DefaultThreadPool::~DefaultThreadPool() {
  stop();
  // Only a worker that destroys its own pool is still joinable here; detaching it at least
  // avoids std::terminate (the contract forbids this use).
  std::lock_guard<std::mutex> lock(threadsMutex_);
  for (std::thread& t : threads_) {
    if (t.joinable()) t.detach();
  }
}

void DefaultThreadPool::setParam(const ThreadPoolParam& param) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == State::kIdle) param_ = param;
}

ResultStatus DefaultThreadPool::start() {
  std::lock_guard<std::mutex> threadsLock(threadsMutex_);
  std::unique_lock<std::mutex> lock(mutex_);
  if (state_ != State::kIdle) {
    return ResultStatus(INVALID_PARAM, state_ == State::kRunning ? "thread pool already running"
                                                                 : "thread pool stopped");
  }
  int32_t count = std::max<int32_t>(param_.threadCount, 1);
  state_ = State::kRunning;
  try {
    for (int32_t i = 0; i < count; ++i) {
      threads_.emplace_back(&DefaultThreadPool::workerLoop, this);
      if (!param_.name.empty()) {
        // Best effort: the kernel keeps at most 15 bytes of a thread's name.
        pthread_setname_np(threads_.back().native_handle(), param_.name.substr(0, 15).c_str());
      }
    }
  } catch (const std::system_error& e) {
    // Workers already made drain nothing (the queue is empty) and end once told to stop.
    state_ = State::kStopped;
    lock.unlock();
    notEmpty_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    return ResultStatus(NATIVE_ERR, std::string("cannot start thread pool: ") + e.what());
  }
  return ResultStatus();
}

size_t DefaultThreadPool::queuedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

ResultStatus DefaultThreadPool::submit(std::function<void()> job) {
  if (!job) return ResultStatus(INVALID_PARAM, "empty job");
  bool ownWorker = onWorkerThread();
  std::unique_lock<std::mutex> lock(mutex_);
  size_t capacity = static_cast<size_t>(std::max<int32_t>(param_.queueCapacity, 1));
  if (!ownWorker) {
    notFull_.wait(lock, [&] { return state_ != State::kRunning || queue_.size() < capacity; });
  }
  if (state_ != State::kRunning) {
    return ResultStatus(NOT_CONNECT,
                        state_ == State::kIdle ? "thread pool not started" : "thread pool stopped");
  }
  queue_.push_back(std::move(job));
  lock.unlock();
  notEmpty_.notify_one();
  return ResultStatus();
}

ResultStatus DefaultThreadPool::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = State::kStopped;
  }
  notEmpty_.notify_all();
  notFull_.notify_all();
  joinWorkers();
  return ResultStatus();
}

bool DefaultThreadPool::onWorkerThread() const { return tCurrentPool == this; }

void DefaultThreadPool::workerLoop() {
  tCurrentPool = this;
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      notEmpty_.wait(lock, [this] { return !queue_.empty() || state_ != State::kRunning; });
      // After stop() the queue is drained before the worker ends.
      if (queue_.empty()) break;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    notFull_.notify_one();
    runJob(job);
  }
  tCurrentPool = nullptr;
}

void DefaultThreadPool::runJob(std::function<void()>& job) {
  try {
    job();
  } catch (const std::exception& e) {
    LOG4CXX_ERROR(poolLogger(), "job of pool '" << param_.name << "' threw: " << e.what());
  } catch (...) {
    LOG4CXX_ERROR(poolLogger(),
                  "job of pool '" << param_.name << "' threw a non-standard exception");
  }
}

void DefaultThreadPool::joinWorkers() {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  const std::thread::id self = std::this_thread::get_id();
  for (std::thread& t : threads_) {
    // A worker that called stop() from its own job is left running: it drains the queue and
    // ends by itself; a later stop() or the destructor from another thread joins it.
    if (t.joinable() && t.get_id() != self) t.join();
  }
}

}  // namespace orvex
