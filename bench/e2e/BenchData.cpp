#include "BenchData.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace orvex {
namespace bench {

namespace {

std::vector<hqserver::StoredRecord> makeSeries(int64_t count) {
  std::vector<hqserver::StoredRecord> records;
  records.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    hqserver::StoredRecord record;
    record.body.time = BenchData::timeAt(i);
    record.body.value = 3000.0 + static_cast<double>(i % 997) * 0.25;
    record.body.data = "v=" + std::to_string(i % 1000) + ",o=1";
    record.mtm = BenchData::mtmAt(i);
    records.push_back(std::move(record));
  }
  return records;
}

std::string numbered(const char* prefix, int index) {
  char text[32];
  std::snprintf(text, sizeof(text), "%s%05d", prefix, index);
  return text;
}

}  // namespace

std::string BenchData::threadTarget(int index) { return numbered("BENCH.T", index); }

std::string BenchData::lastTarget(int index) { return numbered("L", index); }

std::shared_ptr<const hqserver::DataStore> BenchData::build() {
  auto store = std::make_shared<hqserver::DataStore>();
  store->addSeries(kRangeTarget, kKey, makeSeries(kRangeRecords));
  for (int i = 0; i < kThreads; ++i) {
    store->addSeries(threadTarget(i), kKey, makeSeries(kThreadRecords));
  }
  for (int i = 0; i < kLastTargets; ++i) {
    store->addSeries(lastTarget(i), kKey, makeSeries(1));
  }
  store->seal();
  return store;
}

}  // namespace bench
}  // namespace orvex
