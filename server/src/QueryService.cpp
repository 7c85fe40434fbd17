#include "hqserver/QueryService.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "orvex/TopicUtils.h"

#ifndef ORVEX_HQSERVER_VERSION
#define ORVEX_HQSERVER_VERSION "0.0.0"
#endif

namespace orvex {
namespace hqserver {

namespace {

constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
// Bytes reserved per answered record; a typical line is shorter, so most answers never regrow.
constexpr size_t kLineReserve = 48;

// A request the service refuses with 400; its text becomes the answer body.
class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Read access to the decoded query parameters. The first occurrence of a name counts.
class QueryArgs {
 public:
  explicit QueryArgs(const Poco::URI::QueryParameters& params) : params_(params) {}

  const std::string* find(const std::string& name) const {
    for (const auto& p : params_) {
      if (p.first == name) return &p.second;
    }
    return nullptr;
  }

  // Present, possibly empty.
  const std::string& required(const std::string& name) const {
    const std::string* value = find(name);
    if (!value) throw BadRequest("missing parameter '" + name + "'");
    return *value;
  }

  const std::string& requiredNonEmpty(const std::string& name) const {
    const std::string& value = required(name);
    if (value.empty()) throw BadRequest("empty parameter '" + name + "'");
    return value;
  }

  int64_t integer(const std::string& name, int64_t fallback) const {
    const std::string* value = find(name);
    return value ? parse(name, *value) : fallback;
  }

  int64_t requiredInteger(const std::string& name) const { return parse(name, required(name)); }

 private:
  static int64_t parse(const std::string& name, const std::string& text) {
    int64_t out = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) {
      throw BadRequest("parameter '" + name + "' is not a 64-bit integer: '" + text + "'");
    }
    return out;
  }

  const Poco::URI::QueryParameters& params_;
};

// The non-empty items of a comma-separated list, in order.
std::vector<std::string> splitCodes(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    if (comma > start) out.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return out;
}

Answer badRequest(const std::string& message) {
  Answer a;
  a.status = 400;
  a.body = message + "\n";
  return a;
}

}  // namespace

QueryService::QueryService(std::shared_ptr<const DataStore> store, int pageSize, std::string name)
    : pageSize_(std::clamp(pageSize, 1, kMaxPageSize)),
      name_(std::move(name)),
      store_(std::move(store)) {
  if (!store_) store_ = std::make_shared<DataStore>();
}

bool QueryService::knows(const std::string& path) {
  return path == "/HeartBeat" || path == "/getServerVersion" || path == "/QryLast" ||
         path == "/QryCodeType" || path == "/QryPageTgtDetailV2";
}

Answer QueryService::handle(const std::string& path,
                            const Poco::URI::QueryParameters& params) const {
  try {
    if (path == "/HeartBeat") return heartBeat();
    if (path == "/getServerVersion") return serverVersion();
    if (path == "/QryLast") return qryLast(params);
    if (path == "/QryCodeType") return qryCodeType(params);
    if (path == "/QryPageTgtDetailV2") return qryPage(params);
  } catch (const BadRequest& e) {
    return badRequest(e.what());
  }
  Answer a;
  a.status = 404;
  a.body = "no such endpoint: " + path + "\n";
  return a;
}

std::shared_ptr<const DataStore> QueryService::store() const { return snapshot().store; }

void QueryService::setStore(std::shared_ptr<const DataStore> store) {
  if (!store) store = std::make_shared<DataStore>();
  std::lock_guard<std::mutex> lock(mutex_);
  store_ = std::move(store);
  ++generation_;
}

QueryService::Snapshot QueryService::snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Snapshot{store_, generation_};
}

Answer QueryService::heartBeat() const {
  Answer a;
  a.body = "ok\n";
  return a;
}

Answer QueryService::serverVersion() const {
  auto data = store();
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
  w.StartObject();
  w.Key("name");
  w.String(name_.c_str(), static_cast<rapidjson::SizeType>(name_.size()));
  w.Key("version");
  w.String(ORVEX_HQSERVER_VERSION);
  w.Key("records");
  w.Uint64(data->size());
  w.Key("pageSize");
  w.Int(pageSize_);
  w.EndObject();
  Answer a;
  a.contentType = "application/json";
  a.body.assign(buffer.GetString(), buffer.GetSize());
  return a;
}

// "/QryLast?codes=a,b,&types=K": the latest record of each listed target for key K; "ce_K" reads
// the cached latest record of K, which for a store that never changes is the same record.
Answer QueryService::qryLast(const Poco::URI::QueryParameters& params) const {
  QueryArgs args(params);
  const std::vector<std::string> codes = splitCodes(args.required("codes"));
  std::string key = args.requiredNonEmpty("types");
  if (key.rfind("ce_", 0) == 0) {
    key.erase(0, 3);
    if (key.empty()) throw BadRequest("empty key after 'ce_' in 'types'");
  }
  auto data = store();
  Answer a;
  a.body.reserve(codes.size() * kLineReserve);
  for (const auto& code : codes) {
    const Series* series = data->find(code, key);
    if (!series || series->size() == 0) continue;
    TopicUtils::appendTopicLine(a.body, series->target, series->records.back().body);
  }
  return a;
}

// "/QryCodeType": the latest `count` records of one target with beginTime <= time <= endTime, in
// ascending time order.
Answer QueryService::qryCodeType(const Poco::URI::QueryParameters& params) const {
  QueryArgs args(params);
  const std::string& key = args.requiredNonEmpty("types");
  std::vector<std::string> codes = splitCodes(args.required("codes"));
  if (codes.size() != 1) throw BadRequest("parameter 'codes' must name exactly one target");
  const int64_t count = args.requiredInteger("count");
  if (count < 0) throw BadRequest("parameter 'count' must not be negative");
  const int64_t beginTime = args.integer("beginTime", kMin);
  const int64_t endTime = args.integer("endTime", kMax);

  auto data = store();
  Answer a;
  const Series* series = data->find(codes[0], key);
  if (!series || beginTime > endTime || count == 0) return a;
  auto first = series->records.begin();
  auto last = series->records.end();
  auto hi = std::upper_bound(first, last, endTime,
                             [](int64_t t, const StoredRecord& r) { return t < r.body.time; });
  auto lo = std::lower_bound(first, hi, beginTime,
                             [](const StoredRecord& r, int64_t t) { return r.body.time < t; });
  const int64_t wanted = std::min<int64_t>(count, kMaxCount);
  if (hi - lo > wanted) lo = hi - wanted;
  a.body.reserve(static_cast<size_t>(hi - lo) * kLineReserve);
  for (auto it = lo; it != hi; ++it) TopicUtils::appendBodyLine(a.body, it->body);
  return a;
}

// "/QryPageTgtDetailV2": one page of the records of a key whose time and modification time lie in
// the given ranges. "datamtm" 0 (or absent) takes the store's current snapshot mark; a mark sent
// back excludes records modified after it.
Answer QueryService::qryPage(const Poco::URI::QueryParameters& params) const {
  QueryArgs args(params);
  PageFilter filter;
  filter.key = args.requiredNonEmpty("type");
  if (const std::string* tgt = args.find("tgt")) {
    filter.targets = splitCodes(*tgt);
    std::sort(filter.targets.begin(), filter.targets.end());
    filter.targets.erase(std::unique(filter.targets.begin(), filter.targets.end()),
                         filter.targets.end());
  }
  filter.beginTime = args.integer("beginTime", kMin);
  filter.endTime = args.integer("endTime", kMax);
  filter.beginMtm = args.integer("beginm", kMin);
  const int64_t endMtm = args.integer("endm", kMax);
  const int64_t dataMtm = args.integer("datamtm", 0);
  const int64_t page = args.integer("page", 0);
  if (dataMtm < 0) throw BadRequest("parameter 'datamtm' must not be negative");
  if (page < 0 || page > std::numeric_limits<int32_t>::max()) {
    throw BadRequest("parameter 'page' must lie in [0, 2147483647]");
  }

  auto snap = snapshot();
  const int64_t mark = dataMtm > 0 ? dataMtm : snap.store->maxMtm();
  filter.endMtm = std::min(endMtm, mark);
  auto selection = selector_.select(*snap.store, snap.generation, filter);

  const uint64_t from = static_cast<uint64_t>(page) * static_cast<uint64_t>(pageSize_);
  const uint64_t to = from + static_cast<uint64_t>(pageSize_);
  Answer a;
  a.body.reserve(static_cast<size_t>(std::min<uint64_t>(to, selection->total) -
                                     std::min(from, selection->total)) *
                 kLineReserve);
  selection->forEach(*snap.store, from, to, [&a](const Series& series, const StoredRecord& r) {
    TopicUtils::appendTopicLine(a.body, series.target, r.body);
  });
  a.headers = {{"page", std::to_string(page + 1)},
               {"islast", to >= selection->total ? "true" : "false"},
               {"relationmtm", std::to_string(mark)},
               {"namemaxmtm", std::to_string(selection->maxMtm)}};
  return a;
}

}  // namespace hqserver
}  // namespace orvex
