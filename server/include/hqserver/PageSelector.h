// Selection of the records one paged detail query walks through, and a small cache of them.
//
// The records of a query are ordered by (target, time), records of one target and time in store
// order; page n holds positions [n * pageSize, (n + 1) * pageSize) of that order. Since a sealed
// store never changes, a selection stays valid for as long as its store lives, so all pages of one
// query come from one selection and can neither skip nor repeat a record.
//
// PageSelector is thread-safe: select() may be called from any number of threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hqserver/DataStore.h"

namespace orvex {
namespace hqserver {

// What a paged query selects. Bounds are inclusive.
struct PageFilter {
  std::string key;
  std::vector<std::string> targets;  // sorted and unique; empty: every target of the key
  int64_t beginTime = std::numeric_limits<int64_t>::min();
  int64_t endTime = std::numeric_limits<int64_t>::max();
  int64_t beginMtm = std::numeric_limits<int64_t>::min();
  int64_t endMtm = std::numeric_limits<int64_t>::max();

  // A text that equal filters share and different filters do not.
  std::string cacheKey() const;
};

// The selected records as runs of consecutive records of one series.
struct PageSelection {
  struct Run {
    uint32_t series = 0;  // index into DataStore::series()
    uint32_t begin = 0;   // index of the run's first record in the series
    uint32_t end = 0;     // one past its last
    uint64_t offset = 0;  // position of its first record in the selection
  };
  std::vector<Run> runs;
  uint64_t total = 0;
  int64_t maxMtm = 0;  // largest modification time selected; 0 when nothing is

  // Calls f(series, record) for the positions [from, to) of the selection, in order; `store` is
  // the store the selection was built from.
  template <typename F>
  void forEach(const DataStore& store, uint64_t from, uint64_t to, F&& f) const;
};

class PageSelector {
 public:
  explicit PageSelector(size_t capacity = 16);
  PageSelector(const PageSelector&) = delete;
  PageSelector& operator=(const PageSelector&) = delete;

  // The selection of `filter` over `store`, from the cache when an earlier call built it for the
  // same store generation. Never null.
  std::shared_ptr<const PageSelection> select(const DataStore& store, uint64_t generation,
                                              const PageFilter& filter);
  // Scans `store` for `filter`; the uncached form of select().
  static PageSelection build(const DataStore& store, const PageFilter& filter);
  size_t cached() const;

 private:
  struct Entry {
    std::string key;
    std::shared_ptr<const PageSelection> selection;
  };
  const size_t capacity_;
  mutable std::mutex mutex_;
  std::list<Entry> entries_;  // most recently used first
};

template <typename F>
void PageSelection::forEach(const DataStore& store, uint64_t from, uint64_t to, F&& f) const {
  if (to > total) to = total;
  if (from >= to) return;
  // The run holding `from`: the last run whose offset is not past it.
  size_t lo = 0, hi = runs.size();
  while (hi - lo > 1) {
    size_t mid = (lo + hi) / 2;
    if (runs[mid].offset <= from) {
      lo = mid;
    } else {
      hi = mid;
    }
  }
  uint64_t pos = from;
  for (size_t r = lo; r < runs.size() && pos < to; ++r) {
    const Run& run = runs[r];
    const Series& series = store.series()[run.series];
    for (uint64_t i = run.begin + (pos - run.offset); i < run.end && pos < to; ++i, ++pos) {
      f(series, series.records[i]);
    }
  }
}

}  // namespace hqserver
}  // namespace orvex
