// The records the local history quote service answers from.
//
// A store is filled with add() and then sealed; after seal() it never changes, so a sealed store
// may be read from any number of threads at once without locking. The service swaps whole stores
// (shared_ptr<const DataStore>) rather than editing one in place.
//
// Records are kept per (target, key) pair, in a Series ordered by time; records of one series that
// share a time keep the order they were added in. Series are ordered by (key, target).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "orvex/Records.h"

namespace orvex {
namespace hqserver {

// One record: `body.time` is the record time, `mtm` the time it was last modified (both ns).
struct StoredRecord {
  TopicBody body;
  int64_t mtm = 0;
};

// The records of one (target, key) pair, in time order.
struct Series {
  std::string target;
  std::string key;
  std::vector<StoredRecord> records;

  size_t size() const { return records.size(); }
};

class DataStore {
 public:
  DataStore() = default;
  DataStore(const DataStore&) = delete;
  DataStore& operator=(const DataStore&) = delete;

  // Adds one record. The caller checks the texts (no line break anywhere, no comma in a target);
  // the store takes them as they are. Must not be called after seal().
  void add(const std::string& target, const std::string& key, int64_t time, int64_t mtm,
           double value, std::string data);
  // Adds many records of one (target, key) pair at once, in any order; the bulk form of add().
  void addSeries(const std::string& target, const std::string& key,
                 std::vector<StoredRecord> records);
  // Orders every series by time and builds the lookups. Idempotent.
  void seal();

  // Lookups; valid after seal().
  // Ordered by (key, target).
  const std::vector<Series>& series() const { return series_; }
  // The series of (target, key), or nullptr.
  const Series* find(std::string_view target, std::string_view key) const;
  // The series of one key, ordered by target; empty for an unknown key.
  std::vector<const Series*> seriesOfKey(std::string_view key) const;
  std::vector<std::string> keys() const;
  std::vector<std::string> targets() const;
  // Number of records in all series.
  size_t size() const { return size_; }
  // Largest modification time of any record; 0 for an empty store.
  int64_t maxMtm() const { return maxMtm_; }

 private:
  // Filled by add(), emptied by seal(); ordered by (key, target).
  using PendingMap = std::map<std::pair<std::string, std::string>, std::vector<StoredRecord>>;
  PendingMap pending_;
  // The series add() appended to last: consecutive records of one series skip the map lookup.
  PendingMap::iterator lastPending_ = pending_.end();
  std::vector<Series> series_;
  size_t size_ = 0;
  // key -> indexes into series_, ordered by target.
  std::map<std::string, std::vector<uint32_t>, std::less<>> byKey_;
  int64_t maxMtm_ = 0;
};

}  // namespace hqserver
}  // namespace orvex
