// The wrapper's worker pools. A task goes to the pool chosen by a hash of its key, so the tasks of
// one key run in the order they were dispatched.
//
// dispatch may run on several threads at once; construction and stopAll must not overlap it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "orvex/IQuoteTask.h"
#include "orvex/ThreadPoolBase.h"

namespace marketdata {

class WorkerPoolGroup {
 public:
  // `poolCount` pools made by ThreadPoolBase::create(), owned by the group, not yet started.
  explicit WorkerPoolGroup(int32_t poolCount);
  // Stops every pool once more, then deletes them in index order.
  ~WorkerPoolGroup();

  WorkerPoolGroup(const WorkerPoolGroup&) = delete;
  WorkerPoolGroup& operator=(const WorkerPoolGroup&) = delete;

  // Submits a job running `task` to pool |Md5Utils::hash(key)| % poolCount.
  void dispatch(const std::string& key, const std::shared_ptr<orvex::IQuoteTask>& task) const;
  // Calls stop() on every pool in index order; results ignored.
  void stopAll() const;

  int32_t poolCount;
  std::vector<std::unique_ptr<orvex::ThreadPoolBase>> pools;
};

}  // namespace marketdata
