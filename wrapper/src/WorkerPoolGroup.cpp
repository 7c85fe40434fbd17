#include "marketdata/WorkerPoolGroup.h"

#include <functional>
#include <utility>

#include "orvex/Md5Utils.h"

namespace marketdata {

namespace {

// |hash| as an unsigned value, so that the most negative hash has a magnitude too.
uint64_t magnitude(int64_t hash) {
  const uint64_t bits = static_cast<uint64_t>(hash);
  return hash < 0 ? (0 - bits) : bits;
}

}  // namespace

WorkerPoolGroup::WorkerPoolGroup(int32_t count) : poolCount(count) {
  if (count > 0) pools.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    pools.emplace_back(orvex::ThreadPoolBase::create());
  }
}

WorkerPoolGroup::~WorkerPoolGroup() {
  stopAll();
  for (auto& pool : pools) pool.reset();  // index order
  pools.clear();
}

void WorkerPoolGroup::dispatch(const std::string& key,
                               const std::shared_ptr<orvex::IQuoteTask>& task) const {
  if (poolCount <= 0 || pools.empty() || !task) return;
  const uint64_t index = magnitude(orvex::Md5Utils::hash(key)) % static_cast<uint64_t>(poolCount);
  orvex::ThreadPoolBase* pool = pools[static_cast<size_t>(index)].get();
  if (pool == nullptr) return;
  std::function<void()> job = [task]() { task->run(); };
  pool->submit(std::move(job));
}

void WorkerPoolGroup::stopAll() const {
  for (const auto& pool : pools) {
    if (pool) pool->stop();
  }
}

}  // namespace marketdata
