#include "hqserver/PageSelector.h"

#include <algorithm>

namespace orvex {
namespace hqserver {

std::string PageFilter::cacheKey() const {
  // Unit separators keep the fields apart; none of them can occur in a number.
  std::string text = key;
  for (const auto& t : targets) {
    text += '\x1f';
    text += t;
  }
  text += '\x1e';
  for (int64_t n : {beginTime, endTime, beginMtm, endMtm}) {
    text += std::to_string(n);
    text += '\x1f';
  }
  return text;
}

PageSelector::PageSelector(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {}

PageSelection PageSelector::build(const DataStore& store, const PageFilter& filter) {
  PageSelection sel;
  auto byTime = [](const StoredRecord& r, int64_t t) { return r.body.time < t; };
  auto timeBelow = [](int64_t t, const StoredRecord& r) { return t < r.body.time; };
  const auto& all = store.series();
  for (const Series* series : store.seriesOfKey(filter.key)) {
    if (!filter.targets.empty() &&
        !std::binary_search(filter.targets.begin(), filter.targets.end(), series->target)) {
      continue;
    }
    const auto seriesIndex = static_cast<uint32_t>(series - all.data());
    const auto& records = series->records;
    auto lo = std::lower_bound(records.begin(), records.end(), filter.beginTime, byTime);
    auto hi = std::upper_bound(lo, records.end(), filter.endTime, timeBelow);
    for (auto it = lo; it != hi; ++it) {
      if (it->mtm < filter.beginMtm || it->mtm > filter.endMtm) continue;
      const auto index = static_cast<uint32_t>(it - records.begin());
      PageSelection::Run* run = sel.runs.empty() ? nullptr : &sel.runs.back();
      if (run && run->series == seriesIndex && run->end == index) {
        ++run->end;
      } else {
        sel.runs.push_back(PageSelection::Run{seriesIndex, index, index + 1, sel.total});
      }
      ++sel.total;
      sel.maxMtm = sel.total == 1 ? it->mtm : std::max(sel.maxMtm, it->mtm);
    }
  }
  return sel;
}

std::shared_ptr<const PageSelection> PageSelector::select(const DataStore& store,
                                                          uint64_t generation,
                                                          const PageFilter& filter) {
  const std::string key = std::to_string(generation) + '\x1d' + filter.cacheKey();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const Entry& e) { return e.key == key; });
    if (it != entries_.end()) {
      entries_.splice(entries_.begin(), entries_, it);
      return it->selection;
    }
  }
  // Built outside the lock: a scan of a large key must not hold up other queries.
  auto selection = std::make_shared<const PageSelection>(build(store, filter));
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.push_front(Entry{key, selection});
  if (entries_.size() > capacity_) entries_.pop_back();
  return selection;
}

size_t PageSelector::cached() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

}  // namespace hqserver
}  // namespace orvex
