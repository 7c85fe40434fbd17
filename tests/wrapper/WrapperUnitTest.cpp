// The wrapper's private parts: the worker pools (which pool runs a task, in what order, what
// becomes of tasks no pool takes or that throw), init's bounds, the address normalisation, the
// sessions kept across reconnects, and the range and page drivers against the local service (the
// service calls, the batches, the stop rules, the logs).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "LocalService.h"
#include "LogCapture.h"
#include "RecordingHistorySpi.h"
#include "marketdata/HistoryWrapper.h"
#include "orvex/HqHistoryApi.h"

namespace orvex {

// Reaches the client's session pool.
class HqHistoryApiTestPeer {
 public:
  static size_t idleSessions(const HqHistoryApi& api, const std::string& key) {
    return api.sessionPool.idleCount(key);
  }
};

}  // namespace orvex

namespace marketdata {

// Reaches the wrapper's private operations.
class HistoryWrapperTestPeer {
 public:
  static void pushTask(const HistoryWrapper& wrapper, const std::string& key,
                       const std::shared_ptr<orvex::IQuoteTask>& task) {
    wrapper.pushTask(key, task);
  }
  static std::string parseAddress(const std::string& address) {
    return HistoryWrapper::parseAddress(address);
  }
  static const orvex::HqHistoryApi& client(const HistoryWrapper& wrapper) {
    return *wrapper.historyApi;
  }
  template <typename... Args>
  static orvex::ResultStatus range(const HistoryWrapper& wrapper, Args&&... args) {
    return wrapper.reqDataByRange(std::forward<Args>(args)...);
  }
  template <typename... Args>
  static orvex::ResultStatus page(const HistoryWrapper& wrapper, Args&&... args) {
    return wrapper.reqDataByPage(std::forward<Args>(args)...);
  }
};

namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

struct FnTask : orvex::IQuoteTask {
  std::function<void()> fn;
  void run() override { fn(); }
};

class WorkerPoolTest : public ::testing::Test {
 protected:
  // Pushes a task that records its run, then throws `error` if given; returns a watch on it.
  std::weak_ptr<orvex::IQuoteTask> push(const std::string& key, int seq,
                                        const char* error = nullptr) {
    auto task = std::make_shared<FnTask>();
    task->fn = [this, key, seq, error] {
      std::lock_guard<std::mutex> lock(mutex);
      runs[key].emplace_back(seq, std::this_thread::get_id());
      if (error != nullptr) throw std::runtime_error(error);
    };
    HistoryWrapperTestPeer::pushTask(wrapper, key, task);
    return task;
  }

  std::mutex mutex;
  std::map<std::string, std::vector<std::pair<int, std::thread::id>>> runs;  // by key
  HistoryWrapper wrapper;  // destroyed first: its pools may still run tasks that write `runs`
};

TEST_F(WorkerPoolTest, TasksOfOneKeyRunInOrderOnOnePoolThreadAndAreFreed) {
  ASSERT_EQ(wrapper.init(3).code, orvex::OK);
  constexpr int kKeys = 60;
  constexpr int kPerKey = 50;
  std::vector<std::weak_ptr<orvex::IQuoteTask>> watches;
  for (int seq = 0; seq < kPerKey; ++seq) {
    for (int k = 0; k < kKeys; ++k) watches.push_back(push("c" + std::to_string(k) + "@k", seq));
  }
  wrapper.release();  // runs every queued task before returning

  std::set<std::thread::id> threads;
  ASSERT_EQ(runs.size(), static_cast<size_t>(kKeys));
  for (const auto& entry : runs) {
    ASSERT_EQ(entry.second.size(), static_cast<size_t>(kPerKey)) << entry.first;
    for (int seq = 0; seq < kPerKey; ++seq) {
      EXPECT_EQ(entry.second[seq].first, seq) << entry.first;
      EXPECT_EQ(entry.second[seq].second, entry.second[0].second) << entry.first;
    }
    threads.insert(entry.second[0].second);
  }
  EXPECT_EQ(threads.size(), 3u);  // as many started pools as asked for
  for (const auto& watch : watches) EXPECT_TRUE(watch.expired());
}

// A task before init or after release is dropped and freed; one that throws is logged and the
// next one still runs.
TEST_F(WorkerPoolTest, TasksNoPoolTakesAreDroppedAndAThrowingTaskIsLogged) {
  orvex::test::LogCapture capture;
  EXPECT_TRUE(push("a@k", 1).expired());
  ASSERT_EQ(wrapper.init(1).code, orvex::OK);
  push("a@k", 2, "host callback failed");
  push("a@k", 3);
  wrapper.release();
  EXPECT_TRUE(push("a@k", 4).expired());
  wrapper.release();
  ASSERT_EQ(runs["a@k"].size(), 2u);
  EXPECT_EQ(runs["a@k"][1].first, 3);
  const std::string start = "[TRACE] DaZaviVor HistoryWrapper::release start";
  const std::string end = "[TRACE] DaZaviVor HistoryWrapper::release end";
  EXPECT_THAT(
      capture.linesContaining("HistoryWrapper"),
      ElementsAre("[DEBUG] DaZaviVor HistoryWrapper init,threadNum=1", start, end, start, end));
  EXPECT_THAT(capture.linesContaining("delivery failed"),
              ElementsAre("[ERROR] DaZaviVor delivery failed: "
                          "EN_ICE_SERVER_EXCEPTION@host callback failed"));
}

// A threadNum outside 1..256 is refused and leaves the pools in place.
TEST_F(WorkerPoolTest, SecondInitRunsWhatTheOldPoolsHeldAndKeepsWorking) {
  ASSERT_EQ(wrapper.init(2).code, orvex::OK);
  for (int seq = 0; seq < 20; ++seq) push("a@k", seq);
  ASSERT_EQ(wrapper.init(3).code, orvex::OK);
  EXPECT_EQ(runs["a@k"].size(), 20u);
  for (const int32_t n : {0, -1, HistoryWrapper::kMaxThreadNum + 1, INT32_MAX}) {
    EXPECT_EQ(wrapper.init(n).code, orvex::INVALID_PARAM) << n;
  }
  push("a@k", 20);
  wrapper.release();
  EXPECT_EQ(runs["a@k"].size(), 21u);
}

TEST(ParseAddressTest, KeepsALowerCaseKnownSchemeAndPrefixesEverythingElse) {
  for (const std::string address : {"https://srv:99/x", "http://127.0.0.1:8080", "tcp://h:1",
                                    "udp://h", "ws://h", "wss://h/p?q=1", "ssl://h", "http://"}) {
    EXPECT_EQ(HistoryWrapperTestPeer::parseAddress(address), address);
  }
  for (const std::string address :
       {"srv:99", "HTTP://srv", "Https://srv", "ftp://srv", "xhttp://srv", "https://a b",
        "http://a\tb", " http://srv", "http:/srv", "https//srv", ""}) {
    EXPECT_EQ(HistoryWrapperTestPeer::parseAddress(address), "http://" + address)
        << "[" << address << "]";
  }
}

constexpr const char* kRangePath = "/QryCodeType";
constexpr const char* kPagePath = "/QryPageTgtDetailV2";

// Range: SHFE.cu ticks at the times 100..1099. Pages (one record a page): a and b modified
// within 3..99, c another target whose modification time 50 is the store's largest.
std::shared_ptr<const orvex::hqserver::DataStore> driverData() {
  std::string csv = "a,kline1m,1,5,2.5,p\nb,kline1m,4,9,2.5,p\nc,kline1m,5,50,2.5,p\n";
  for (int t = 100; t <= 1099; ++t) csv += "SHFE.cu,tick," + std::to_string(t) + ",1,1.5,d\n";
  return orvex::test::LocalService::fromCsv(csv);
}

orvex::hqserver::ServerOptions onePerPage() {
  orvex::hqserver::ServerOptions options;
  options.pageSize = 1;
  return options;
}

orvex::TopicReq pageReq() { return {"kline1m", {"a", "b"}, 3, 99, 1, orvex::ByModifyTime}; }

struct Batch {
  int64_t mtmValue;
  std::vector<orvex::CloudTopic> topics;
  orvex::ResultStatus status;
  bool isLast;
};

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(wrapper.connect(service.url()).code, orvex::OK); }

  orvex::ResultStatus run(const orvex::TopicReq& req, int32_t maxSteps = 32767) {
    const HistoryDataCallback record = [this](int64_t mtm,
                                              const std::vector<orvex::CloudTopic>& topics,
                                              const orvex::ResultStatus& status, bool isLast) {
      batches.push_back(Batch{mtm, topics, status, isLast});
      if (cancelAfterBatch) orvex::setCancelFlag(cancel, true);
    };
    if (req.flags == orvex::ByModifyTime) {
      return HistoryWrapperTestPeer::page(wrapper, req, 5, record, maxSteps, cancel);
    }
    return HistoryWrapperTestPeer::range(wrapper, req, 7, record, maxSteps, cancel);
  }

  // Service calls to `path` since the last call.
  uint64_t callsTo(const std::string& path) {
    const uint64_t total = service.requestCount(path);
    const uint64_t calls = total - counted[path];
    counted[path] = total;
    return calls;
  }

  orvex::test::LocalService service{onePerPage(), driverData()};
  std::map<std::string, uint64_t> counted;
  HistoryWrapper wrapper;
  std::vector<Batch> batches;
  bool cancelAfterBatch = false;
  bool cancel = false;
};

TEST_F(DriverTest, RangeStopRules) {
  struct Case {
    const char* name;
    int64_t begin, end;
    int32_t maxCount, maxSteps;
    uint64_t calls;
    size_t records;  // in the step's batch
  };
  const Case cases[] = {
      {"full step reaching beginTime", 100, 1099, 5000, 32767, 1, 1000},
      {"short step", 600, 1099, 5000, 32767, 1, 500},
      {"maxCount reached", 0, 1099, 1000, 32767, 1, 1000},
      {"maxCount 0 asks once for nothing", 1, 1099, 0, 32767, 1, 0},
      {"maxSteps 0 makes no call", 1, 1099, 10, 0, 0, 0},
      {"negative maxSteps makes no call", 1, 1099, 10, -3, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    batches.clear();
    orvex::test::LogCapture capture;

    EXPECT_EQ(
        run(orvex::TopicReq{"tick", {"SHFE.cu"}, c.begin, c.end, c.maxCount, 0}, c.maxSteps).code,
        orvex::OK);

    EXPECT_EQ(callsTo(kRangePath), c.calls);
    ASSERT_EQ(batches.size(), c.calls + 1);
    size_t records = 0;  // of the step, or of the final batch when no step ran
    for (const orvex::CloudTopic& topic : batches[0].topics) records += topic.bodies.size();
    EXPECT_EQ(records, c.records);
    EXPECT_TRUE(batches.back().isLast);
    EXPECT_TRUE(batches.back().topics.empty());
    EXPECT_EQ(batches.back().status.code, orvex::OK);

    const std::vector<std::string> lines = capture.linesContaining("reqDataByRange");
    ASSERT_EQ(lines.size(), c.calls + 2);
    EXPECT_EQ(lines.back(), "[DEBUG] DaZaviVor reqDataByRange end,requestId=7,OK@");
  }
}

TEST_F(DriverTest, PageRunsEndAtAFailureOrAfterMaxStepsWithoutALastBatch) {
  struct Case {
    const char* name;
    const char* fault;  // on the page path; none when empty
    int32_t maxSteps;
    size_t pages;
    int64_t lastMtm;
    bool ok;
  };
  const Case cases[] = {
      {"page 0 fails: no mark is taken", "kind=status,code=503,first=1", 4, 1, 0, false},
      {"a later page fails", "kind=status,code=503,every=2", 4, 2, 9, false},
      {"maxSteps pages", "", 1, 1, 9, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    batches.clear();
    service.faults().clear();
    if (*c.fault != '\0') service.addFault(std::string(c.fault) + ",path=" + kPagePath);

    const orvex::ResultStatus status = run(pageReq(), c.maxSteps);

    EXPECT_EQ(status.code == orvex::OK, c.ok) << status.msg;
    EXPECT_EQ(callsTo(kPagePath), c.pages);
    ASSERT_EQ(batches.size(), c.pages);
    for (const Batch& b : batches) EXPECT_FALSE(b.isLast);
    EXPECT_EQ(batches.back().mtmValue, c.lastMtm);
    EXPECT_EQ(batches.back().status.code, status.code);
  }
}

TEST_F(DriverTest, CancelDuringAPageDeliversItAndLogsTheCancel) {
  orvex::test::LogCapture capture;
  cancelAfterBatch = true;
  EXPECT_EQ(run(pageReq()).code, orvex::OK);
  EXPECT_EQ(batches.size(), 1u);
  EXPECT_THAT(capture.linesContaining("reqDataByPage"),
              ElementsAre(StartsWith("[DEBUG] DaZaviVor reqDataByPage begin,requestId=5,"),
                          StartsWith("[DEBUG] DaZaviVor reqDataByPage rsp,requestId=5,OK@,page=1,"
                                     "isLast=0,relationMtm=50,nameMaxMtm=9,size=1,costMs="),
                          "[DEBUG] DaZaviVor reqDataByPage cancel,requestId=5OK@",
                          "[DEBUG] DaZaviVor reqDataByPage end,requestId=5,OK@"));
}

TEST_F(DriverTest, DeliveriesNoPoolTakesAreLoggedWithRequestAndRecordCount) {
  ASSERT_EQ(wrapper.init(1).code, orvex::OK);
  wrapper.release();
  orvex::test::LogCapture capture(log4cxx::Level::getError());
  orvex::test::RecordingHistorySpi spi;
  EXPECT_EQ(
      wrapper.reqData(orvex::TopicReq{"tick", {"SHFE.cu"}, 100, 1099, 600, 0}, &spi, 9, cancel)
          .code,
      orvex::OK);
  EXPECT_THAT(
      capture.linesContaining("delivery lost"),
      ElementsAre(StartsWith("[ERROR] DaZaviVor delivery lost,requestId=9,records=600,isLast=0,"),
                  StartsWith("[ERROR] DaZaviVor delivery lost,requestId=9,records=0,isLast=1,")));
  EXPECT_EQ(spi.count(), 0u);
}

TEST_F(DriverTest, ReconnectingKeepsAsManySessionsAsTheFirstConnect) {
  const orvex::HqHistoryApi& client = HistoryWrapperTestPeer::client(wrapper);
  const size_t afterOne = orvex::HqHistoryApiTestPeer::idleSessions(client, service.url());
  ASSERT_GT(afterOne, 0u);
  for (int i = 0; i < 999; ++i) ASSERT_EQ(wrapper.connect(service.url()).code, orvex::OK);
  EXPECT_EQ(orvex::HqHistoryApiTestPeer::idleSessions(client, service.url()), afterOne);
}

}  // namespace
}  // namespace marketdata
