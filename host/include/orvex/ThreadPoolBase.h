// Worker pools of the common runtime library.
//
// A pool runs submitted jobs on its own threads. With one thread (what the plug-in asks for)
// jobs run one at a time in submission order. The queue is bounded: a submit to a full queue
// waits for room rather than dropping the job. stop() lets the queued jobs run, then joins the
// threads; a submit after stop() is refused. All operations are thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "orvex/Export.h"
#include "orvex/ResultStatus.h"

namespace orvex {

// threadCount: worker threads (values below 1 count as 1; order is kept only with 1).
// queueCapacity: most jobs waiting at once (values below 1 count as 1).
// name: a label for diagnostics; may be empty.
struct ThreadPoolParam {
  int32_t threadCount = 1;
  int32_t queueCapacity = 60000;
  std::string name;
};

class ORVEX_RUNTIME_API ThreadPoolBase {
 public:
  // A new pool with the default implementation; the caller owns it. Not started.
  static ThreadPoolBase* create();

  virtual ~ThreadPoolBase();  // slot 0: stops the pool (running what is queued) if still running

  // slot 1: takes effect at the next start(); ignored while running.
  virtual void setParam(const ThreadPoolParam& param) = 0;
  // slot 2: starts the threads. Fails with INVALID_PARAM when already running or stopped.
  virtual ResultStatus start() = 0;
  // slot 3: jobs queued and not yet started.
  virtual size_t queuedCount() const = 0;
  // slot 4: queues `job`, waiting while the queue is full. Fails with NOT_CONNECT before start()
  // and after stop(); the job is then not run.
  virtual ResultStatus submit(std::function<void()> job) = 0;
  // slot 5: refuses new jobs, runs the queued ones, joins the threads. Idempotent.
  virtual ResultStatus stop() = 0;

 protected:
  ThreadPoolBase() = default;
  ThreadPoolBase(const ThreadPoolBase&) = delete;
  ThreadPoolBase& operator=(const ThreadPoolBase&) = delete;
};

}  // namespace orvex
