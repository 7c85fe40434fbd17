#include "ReliabilitySupport.h"

#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <algorithm>
#include <thread>

namespace orvex {
namespace test {
namespace reliability {

namespace {

struct Row {
  std::string target;
  std::string key;
  int64_t time;
  int64_t mtm;
  std::string data;
};

// Every record of the data set, in (key, target, time) order.
const std::vector<Row>& rows() {
  static const std::vector<Row> all = [] {
    std::vector<Row> out;
    for (const std::string& target : DataSet::targets()) {
      for (int i = 0; i < DataSet::kBarCount; ++i) {
        const int64_t time = DataSet::kBase + i * DataSet::kBarStep;
        const int64_t mtm = DataSet::kBase + (DataSet::kBarCount - i) * 1000;
        out.push_back(Row{target, "bar", time, mtm, target + "/bar/" + std::to_string(i)});
      }
    }
    for (const std::string& target : DataSet::targets()) {
      for (int i = 0; i < DataSet::kTickCount; ++i) {
        const int64_t time = DataSet::kBase + i * DataSet::kTickStep;
        out.push_back(Row{target, "tick", time, time + 7, target + "/tick/" + std::to_string(i)});
      }
    }
    return out;
  }();
  return all;
}

RecordId idOf(const Row& row) { return RecordId{row.target, row.time, row.data}; }

std::string describe(const ResultStatus& status) {
  return std::to_string(status.code) + "@" + status.msg;
}

bool sameStatus(const ResultStatus& a, const ResultStatus& b) {
  return a.code == b.code && a.msg == b.msg;
}

// The delivered records of a range request, oldest first: the batches come newest block first.
std::vector<RecordId> rangeRecords(const std::vector<Delivery>& got) {
  std::vector<RecordId> ids;
  for (auto d = got.rbegin(); d != got.rend(); ++d) {
    std::vector<RecordId> block = idsOf(d->topics);
    ids.insert(ids.end(), block.begin(), block.end());
  }
  return ids;
}

::testing::AssertionResult oneThread(const std::vector<Delivery>& got) {
  for (const Delivery& d : got) {
    if (d.thread != got.front().thread) {
      return ::testing::AssertionFailure() << "deliveries of one request on two threads";
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace

const std::vector<std::string>& DataSet::targets() {
  static const std::vector<std::string> list = {"R0.x", "R1.y", "R2.z", "R3.w"};
  return list;
}

const std::string& DataSet::csv() {
  static const std::string text = [] {
    std::string out;
    for (const Row& row : rows()) {
      out += row.target + "," + row.key + "," + std::to_string(row.time) + "," +
             std::to_string(row.mtm) + ",1.5," + row.data + "\n";
    }
    return out;
  }();
  return text;
}

std::shared_ptr<const hqserver::DataStore> DataSet::store() {
  static const std::shared_ptr<const hqserver::DataStore> data = LocalService::fromCsv(csv());
  return data;
}

std::vector<RecordId> DataSet::range(const std::string& target, const std::string& key,
                                     int64_t begin, int64_t end, int64_t maxCount) {
  std::vector<RecordId> ids;
  for (const Row& row : rows()) {
    if (row.target == target && row.key == key && row.time >= begin && row.time <= end) {
      ids.push_back(idOf(row));
    }
  }
  const size_t wanted = static_cast<size_t>(std::max<int64_t>(0, maxCount));
  if (ids.size() > wanted) ids.erase(ids.begin(), ids.end() - static_cast<std::ptrdiff_t>(wanted));
  return ids;
}

std::vector<RecordId> DataSet::pages(const std::string& key, std::vector<std::string> targets,
                                     int64_t beginMtm, int64_t endMtm) {
  std::sort(targets.begin(), targets.end());
  std::vector<RecordId> ids;
  for (const Row& row : rows()) {
    const bool wanted =
        targets.empty() || std::binary_search(targets.begin(), targets.end(), row.target);
    if (row.key == key && wanted && row.mtm >= beginMtm && row.mtm <= endMtm) {
      ids.push_back(idOf(row));
    }
  }
  std::stable_sort(ids.begin(), ids.end(), [](const RecordId& a, const RecordId& b) {
    return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
  });
  return ids;
}

std::vector<RecordId> DataSet::latest(const std::string& key,
                                      const std::vector<std::string>& targets) {
  std::vector<RecordId> ids;
  for (const std::string& target : targets) {
    std::vector<RecordId> all = range(target, key, INT64_MIN, INT64_MAX, 1);
    ids.insert(ids.end(), all.begin(), all.end());
  }
  return ids;
}

TopicReq makeReq(const std::string& key, std::vector<std::string> targets, int64_t begin,
                 int64_t end, int32_t maxCount, uint32_t flags) {
  TopicReq req;
  req.key = key;
  req.targets = std::move(targets);
  req.beginTime = begin;
  req.endTime = end;
  req.maxCount = maxCount;
  req.flags = flags;
  return req;
}

std::vector<RecordId> idsOf(const CloudTopic& topic) {
  std::vector<RecordId> ids;
  for (const TopicBody& body : topic.bodies) ids.emplace_back(topic.target, body.time, body.data);
  return ids;
}

std::vector<RecordId> idsOf(const std::vector<CloudTopic>& topics) {
  std::vector<RecordId> ids;
  for (const CloudTopic& topic : topics) {
    std::vector<RecordId> more = idsOf(topic);
    ids.insert(ids.end(), more.begin(), more.end());
  }
  return ids;
}

bool awaitRangeEnd(const RecordingHistorySpi& spi, int32_t requestId) {
  return spi.waitForLast(requestId, kDeliveryWait);
}

bool awaitPageEnd(const RecordingHistorySpi& spi, int32_t requestId) {
  const auto deadline = std::chrono::steady_clock::now() + kDeliveryWait;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::vector<Delivery> got = spi.deliveries(requestId);
    if (!got.empty() && (got.back().isLast || !got.back().status.ok())) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

::testing::AssertionResult rangeDeliveriesHold(const std::vector<Delivery>& got,
                                               const ResultStatus& result,
                                               const std::vector<RecordId>& expected) {
  if (got.empty()) return ::testing::AssertionFailure() << "no delivery";
  const Delivery& final = got.back();
  if (!final.isLast || !final.topics.empty() || final.mtmValue != 0) {
    return ::testing::AssertionFailure() << "the last delivery is not an empty final batch";
  }
  if (!sameStatus(final.status, result)) {
    return ::testing::AssertionFailure() << "final batch carries " << describe(final.status)
                                         << ", the request returned " << describe(result);
  }
  for (size_t i = 0; i + 1 < got.size(); ++i) {
    const Delivery& step = got[i];
    if (step.isLast || step.mtmValue != 0) {
      return ::testing::AssertionFailure() << "step batch " << i << " marked last or with mtm";
    }
    const bool failedLastStep = i + 2 == got.size() && !result.ok();
    if (failedLastStep ? !sameStatus(step.status, result) : !step.status.ok()) {
      return ::testing::AssertionFailure()
             << "step batch " << i << " carries " << describe(step.status);
    }
  }
  ::testing::AssertionResult threads = oneThread(got);
  if (!threads) return threads;
  const std::vector<RecordId> records = rangeRecords(got);
  if (records.size() > expected.size() ||
      !std::equal(records.begin(), records.end(), expected.end() - records.size())) {
    return ::testing::AssertionFailure()
           << records.size() << " records delivered are not the newest of the " << expected.size()
           << " expected";
  }
  if (result.ok() && records.size() != expected.size()) {
    return ::testing::AssertionFailure()
           << "OK with " << records.size() << " of " << expected.size() << " records";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult pageDeliveriesHold(const std::vector<Delivery>& got,
                                              const ResultStatus& result,
                                              const std::vector<RecordId>& expected) {
  if (got.empty()) return ::testing::AssertionFailure() << "no delivery";
  for (size_t i = 0; i + 1 < got.size(); ++i) {
    if (got[i].isLast || !got[i].status.ok()) {
      return ::testing::AssertionFailure() << "page " << i << " is last or failed before the end";
    }
    if (got[i].mtmValue != got.front().mtmValue) {
      return ::testing::AssertionFailure() << "page " << i << " carries another mtmValue";
    }
  }
  const Delivery& last = got.back();
  if (!sameStatus(last.status, result)) {
    return ::testing::AssertionFailure() << "last page carries " << describe(last.status)
                                         << ", the request returned " << describe(result);
  }
  if (result.ok() && !last.isLast) {
    return ::testing::AssertionFailure() << "OK without a page marked last";
  }
  ::testing::AssertionResult threads = oneThread(got);
  if (!threads) return threads;
  std::vector<RecordId> records;
  for (const Delivery& d : got) {
    std::vector<RecordId> page = idsOf(d.topics);
    records.insert(records.end(), page.begin(), page.end());
  }
  if (records.size() > expected.size() ||
      !std::equal(records.begin(), records.end(), expected.begin())) {
    return ::testing::AssertionFailure()
           << records.size() << " records delivered are not the first of the " << expected.size()
           << " expected";
  }
  if (result.ok() && records.size() != expected.size()) {
    return ::testing::AssertionFailure()
           << "OK with " << records.size() << " of " << expected.size() << " records";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult isClearFailure(const ResultStatus& status) {
  if (status.ok()) return ::testing::AssertionFailure() << "OK where a failure was due";
  if (status.msg.empty()) {
    return ::testing::AssertionFailure() << "code " << status.code << " without a message";
  }
  return ::testing::AssertionSuccess();
}

PluginHost::PluginHost() = default;

PluginHost::~PluginHost() { api_.reset(); }

::testing::AssertionResult PluginHost::start(int pools, const std::string& address) {
  if (!loader_.ok()) return ::testing::AssertionFailure() << "plug-in: " << loader_.error();
  api_ = loader_.create();
  if (!api_) return ::testing::AssertionFailure() << "no creator of type id 5";
  const ResultStatus init = api_->init(pools);
  if (!init.ok()) return ::testing::AssertionFailure() << "init: " << describe(init);
  const ResultStatus connect = api_->connect(address);
  if (!connect.ok()) return ::testing::AssertionFailure() << "connect: " << describe(connect);
  return ::testing::AssertionSuccess();
}

uint16_t freeLoopbackPort() {
  Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
  return socket.address().port();
}

}  // namespace reliability
}  // namespace test
}  // namespace orvex
