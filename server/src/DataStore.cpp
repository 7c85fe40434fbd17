#include "hqserver/DataStore.h"

#include <algorithm>

namespace orvex {
namespace hqserver {

void DataStore::add(const std::string& target, const std::string& key, int64_t time, int64_t mtm,
                    double value, std::string data) {
  if (lastPending_ == pending_.end() || lastPending_->first.first != key ||
      lastPending_->first.second != target) {
    lastPending_ = pending_.try_emplace({key, target}).first;
  }
  lastPending_->second.push_back(StoredRecord{TopicBody{time, value, std::move(data)}, mtm});
}

void DataStore::addSeries(const std::string& target, const std::string& key,
                          std::vector<StoredRecord> records) {
  auto& slot = pending_[{key, target}];
  if (slot.empty()) {
    slot = std::move(records);
  } else {
    slot.insert(slot.end(), std::make_move_iterator(records.begin()),
                std::make_move_iterator(records.end()));
  }
}

void DataStore::seal() {
  auto byTime = [](const StoredRecord& a, const StoredRecord& b) {
    return a.body.time < b.body.time;
  };
  for (auto& [name, list] : pending_) {
    if (!std::is_sorted(list.begin(), list.end(), byTime)) {
      std::stable_sort(list.begin(), list.end(), byTime);
    }
    for (const auto& record : list) maxMtm_ = std::max(maxMtm_, record.mtm);
    size_ += list.size();
    byKey_[name.first].push_back(static_cast<uint32_t>(series_.size()));
    series_.push_back(Series{name.second, name.first, std::move(list)});
  }
  pending_.clear();
  lastPending_ = pending_.end();
}

const Series* DataStore::find(std::string_view target, std::string_view key) const {
  auto it = byKey_.find(key);
  if (it == byKey_.end()) return nullptr;
  const auto& list = it->second;
  auto pos = std::lower_bound(list.begin(), list.end(), target,
                              [this](uint32_t idx, auto t) { return series_[idx].target < t; });
  if (pos == list.end() || series_[*pos].target != target) return nullptr;
  return &series_[*pos];
}

std::vector<const Series*> DataStore::seriesOfKey(std::string_view key) const {
  std::vector<const Series*> out;
  auto it = byKey_.find(key);
  if (it == byKey_.end()) return out;
  out.reserve(it->second.size());
  for (uint32_t idx : it->second) out.push_back(&series_[idx]);
  return out;
}

std::vector<std::string> DataStore::keys() const {
  std::vector<std::string> out;
  for (const auto& entry : byKey_) out.push_back(entry.first);
  return out;
}

std::vector<std::string> DataStore::targets() const {
  std::vector<std::string> out;
  for (const auto& s : series_) out.push_back(s.target);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace hqserver
}  // namespace orvex
