// The answers of the history quote service's endpoints, apart from HTTP.
//
// handle() turns a path and its decoded query parameters into an Answer: status, content type,
// extra response headers and body. Record bodies use the line formats of orvex::TopicUtils.
// Malformed or missing parameters give status 400 with a one-line message; unknown paths 404.
//
// Thread-safe: handle() may run on any number of threads at once, also while setStore() swaps the
// data; a request answers wholly from the store it started with.
#pragma once

#include <Poco/URI.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hqserver/DataStore.h"
#include "hqserver/PageSelector.h"

namespace orvex {
namespace hqserver {

struct Answer {
  int status = 200;
  std::string contentType = "text/plain";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

class QueryService {
 public:
  // Caps: a larger "count" is cut to kMaxCount; page sizes must lie in [1, kMaxPageSize].
  static constexpr int kMaxCount = 100000;
  static constexpr int kMaxPageSize = 100000;

  // `pageSize` is clamped into [1, kMaxPageSize]; `name` is what "/getServerVersion" reports.
  QueryService(std::shared_ptr<const DataStore> store, int pageSize, std::string name);
  QueryService(const QueryService&) = delete;
  QueryService& operator=(const QueryService&) = delete;

  // Whether `path` is one of the service's endpoints.
  static bool knows(const std::string& path);
  Answer handle(const std::string& path, const Poco::URI::QueryParameters& params) const;

  std::shared_ptr<const DataStore> store() const;
  // Replaces the data; requests already running finish on the old store.
  void setStore(std::shared_ptr<const DataStore> store);
  int pageSize() const { return pageSize_; }

 private:
  struct Snapshot {
    std::shared_ptr<const DataStore> store;
    uint64_t generation;
  };
  Snapshot snapshot() const;

  Answer heartBeat() const;
  Answer serverVersion() const;
  Answer qryLast(const Poco::URI::QueryParameters& params) const;
  Answer qryCodeType(const Poco::URI::QueryParameters& params) const;
  Answer qryPage(const Poco::URI::QueryParameters& params) const;

  const int pageSize_;
  const std::string name_;
  mutable std::mutex mutex_;  // guards store_ and generation_
  std::shared_ptr<const DataStore> store_;
  uint64_t generation_ = 0;
  mutable PageSelector selector_;
};

}  // namespace hqserver
}  // namespace orvex
