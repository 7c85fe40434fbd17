// The wrapper's worker pools. A task goes to the pool chosen by a hash of its key, so the tasks of
// one key run in the order they were dispatched.
//
// dispatch may run on several threads at once; construction, startAll and stopAll must not
// overlap it. A job of the group may let the group go: retire() stops and frees it on a thread of
// its own, so no pool is ever stopped or deleted by one of its own jobs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvex/IQuoteTask.h"
#include "orvex/ResultStatus.h"
#include "orvex/ThreadPoolBase.h"

namespace marketdata {

class WorkerPoolGroup {
 public:
  // `poolCount` pools made by ThreadPoolBase::create(), owned by the group, not yet started.
  explicit WorkerPoolGroup(int32_t poolCount);
  // Stops every pool once more (running what they hold), then deletes them in index order. Must
  // not run on one of the group's own threads: see retire().
  ~WorkerPoolGroup();

  WorkerPoolGroup(const WorkerPoolGroup&) = delete;
  WorkerPoolGroup& operator=(const WorkerPoolGroup&) = delete;

  // Gives every pool `param` and starts it, in index order. The first pool that does not start
  // ends the call with its status, naming the pool; the pools started so far keep running.
  orvex::ResultStatus startAll(const orvex::ThreadPoolParam& param) const;
  // Submits a job running `task` to pool |Md5Utils::hash(key)| % poolCount; returns what the pool
  // answered. An exception escaping the task is logged at ERROR and goes no further.
  orvex::ResultStatus dispatch(const std::string& key,
                               const std::shared_ptr<orvex::IQuoteTask>& task) const;
  // Calls stop() on every pool in index order; results ignored. Waits for the pools to drain.
  void stopAll() const;
  // True while one of the group's jobs runs on the calling thread.
  bool runsOnThisThread() const;

  // Stops the pools of `group` and drops this reference on a new thread, without waiting: the
  // way to let a group go from one of its own jobs. The group is freed there once no other
  // reference is left; the job that called this finishes first.
  static void retire(std::shared_ptr<const WorkerPoolGroup> group);

  int32_t poolCount;
  std::vector<std::unique_ptr<orvex::ThreadPoolBase>> pools;
};

}  // namespace marketdata
