// The wrapper's private parts: the worker pools (which pool runs a task, in what order, what
// becomes of tasks no pool takes), the address normalisation, and the range and page drivers
// against a scripted service (what each step asks for, the batches, the stop rules, the logs).
#include <Poco/URI.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "LogCapture.h"
#include "ScriptedHttpServer.h"
#include "marketdata/HistoryWrapper.h"

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

struct FnTask : orvex::IQuoteTask {
  std::function<void()> fn;
  void run() override { fn(); }
};

class WorkerPoolTest : public ::testing::Test {
 protected:
  // Pushes a task that records its run; returns a watch on it.
  std::weak_ptr<orvex::IQuoteTask> push(const std::string& key, int seq) {
    auto task = std::make_shared<FnTask>();
    task->fn = [this, key, seq] {
      std::lock_guard<std::mutex> lock(mutex);
      runs[key].emplace_back(seq, std::this_thread::get_id());
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

TEST_F(WorkerPoolTest, TasksNoPoolTakesAreDroppedAndFreed) {
  EXPECT_TRUE(push("a@k", 1).expired());  // before init
  ASSERT_EQ(wrapper.init(2).code, orvex::OK);
  wrapper.release();
  EXPECT_TRUE(push("a@k", 2).expired());  // after release
  wrapper.release();
  EXPECT_TRUE(runs.empty());
}

TEST_F(WorkerPoolTest, SecondInitRunsWhatTheOldPoolsHeldAndKeepsWorking) {
  ASSERT_EQ(wrapper.init(2).code, orvex::OK);
  for (int seq = 0; seq < 20; ++seq) push("a@k", seq);
  ASSERT_EQ(wrapper.init(3).code, orvex::OK);
  EXPECT_EQ(runs["a@k"].size(), 20u);
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

using orvex::test::ScriptedAnswer;
using ::testing::ElementsAre;
using ::testing::StartsWith;

constexpr const char* kRangePath = "/QryCodeType";
constexpr const char* kPagePath = "/QryPageTgtDetailV2";

// Range answer lines ("time,value,data") for the times first..last.
std::string bodyLines(int64_t first, int64_t last) {
  std::string text;
  for (int64_t t = first; t <= last; ++t) text += std::to_string(t) + ",1.5,d\n";
  return text;
}

ScriptedAnswer pageAnswer(int page, int64_t relation, int64_t nameMax, bool isLast,
                          const std::string& body = "") {
  return ScriptedAnswer::ok(body)
      .header("page", std::to_string(page))
      .header("relationmtm", std::to_string(relation))
      .header("namemaxmtm", std::to_string(nameMax))
      .header("islast", isLast ? "true" : "false");
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
  void SetUp() override {
    server.setDefaultAnswer(kPagePath, pageAnswer(1, 7, 9, false));
    ASSERT_EQ(wrapper.connect(server.url()).code, orvex::OK);
  }

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

  // The decoded query parameter `name` of every request to `path`, or "<absent>".
  std::vector<std::string> sent(const std::string& path, const std::string& name) {
    std::vector<std::string> values;
    for (const auto& request : server.requestsTo(path)) {
      values.push_back("<absent>");
      for (const auto& entry : Poco::URI("/?" + request.query).getQueryParameters()) {
        if (entry.first == name) values.back() = entry.second;
      }
    }
    return values;
  }

  orvex::test::ScriptedHttpServer server;
  HistoryWrapper wrapper;
  std::vector<Batch> batches;
  bool cancelAfterBatch = false;
  bool cancel = false;
};

TEST_F(DriverTest, RangeStopRules) {
  struct Case {
    const char* name;
    // Record times of the one scripted answer; none when first > last.
    int64_t answerFirst, answerLast;
    int64_t begin, end;
    int32_t maxCount, maxSteps;
    std::vector<std::string> steps;  // "count@endTime" sent by each step
  };
  const Case cases[] = {
      {"full step reaching beginTime", 100, 1099, 100, 1099, 5000, 32767, {"1000@1099"}},
      {"maxCount 0 asks once for nothing", 1, 0, 1, 10, 0, 32767, {"0@10"}},
      {"maxSteps 0 makes no call", 1, 0, 1, 10, 10, 0, {}},
      {"negative maxSteps makes no call", 1, 0, 1, 10, 10, -3, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.clear();
    batches.clear();
    server.script(kRangePath, ScriptedAnswer::ok(bodyLines(c.answerFirst, c.answerLast)));
    orvex::test::LogCapture capture;

    EXPECT_EQ(
        run(orvex::TopicReq{"tick", {"SHFE.cu"}, c.begin, c.end, c.maxCount, 0}, c.maxSteps).code,
        orvex::OK);

    const std::vector<std::string> counts = sent(kRangePath, "count");
    const std::vector<std::string> ends = sent(kRangePath, "endTime");
    std::vector<std::string> steps;
    for (size_t i = 0; i < counts.size(); ++i) steps.push_back(counts[i] + "@" + ends[i]);
    EXPECT_EQ(steps, c.steps);
    ASSERT_EQ(batches.size(), steps.size() + 1);
    EXPECT_TRUE(batches.back().isLast);
    EXPECT_EQ(batches.back().status.code, orvex::OK);

    const std::vector<std::string> lines = capture.linesContaining("reqDataByRange");
    ASSERT_EQ(lines.size(), steps.size() + 2);
    EXPECT_EQ(lines.back(), "[DEBUG] DaZaviVor reqDataByRange end,requestId=7,OK@");
  }
}

TEST_F(DriverTest, PagesCarryTheMarksOfPageZeroUntilTheLastPage) {
  server.script(kPagePath, pageAnswer(1, 7, 9, false, "a,1,2.5,p\na,2,2.5,p\n"));
  server.script(kPagePath, pageAnswer(2, 70, 90, false, "b,4,2.5,p\n"));
  server.script(kPagePath, pageAnswer(3, 71, 91, true));

  EXPECT_EQ(run(pageReq()).code, orvex::OK);

  EXPECT_THAT(sent(kPagePath, "page"), ElementsAre("0", "1", "2"));
  EXPECT_THAT(sent(kPagePath, "datamtm"), ElementsAre("0", "7", "7"));
  // Every page selects by modification time over an open record-time range.
  const char* const fixed[][2] = {
      {"tgt", "a,b"}, {"type", "kline1m"},       {"beginm", "3"},
      {"endm", "99"}, {"beginTime", "<absent>"}, {"endTime", "9223372036854775807"}};
  for (const auto& p : fixed)
    EXPECT_EQ(sent(kPagePath, p[0]), std::vector<std::string>(3, p[1])) << p[0];
  ASSERT_EQ(batches.size(), 3u);  // the last page's own batch ends the run
  for (size_t i = 0; i < batches.size(); ++i) {
    EXPECT_EQ(batches[i].mtmValue, 9);
    EXPECT_EQ(batches[i].isLast, i == 2);
  }
  EXPECT_EQ(batches[0].topics.at(0).bodies.size(), 2u);
}

TEST_F(DriverTest, PageRunsEndAtAFailureOrAfterMaxStepsWithoutALastBatch) {
  struct Case {
    const char* name;
    std::vector<ScriptedAnswer> answers;  // then the default: page 1, marks 7 and 9, not last
    size_t pages;
    int64_t lastMtm;
    bool ok;
  };
  const ScriptedAnswer failed =
      ScriptedAnswer::withStatus(503).header("relationmtm", "70").header("namemaxmtm", "90");
  const Case cases[] = {
      {"page 0 fails: its marks are not taken", {failed}, 1, 0, false},
      {"a later page fails", {pageAnswer(1, 7, 9, false), failed}, 2, 9, false},
      {"maxSteps pages", {}, 4, 9, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.clear();
    batches.clear();
    for (const ScriptedAnswer& answer : c.answers) server.script(kPagePath, answer);

    const orvex::ResultStatus status = run(pageReq(), 4);

    EXPECT_EQ(status.code == orvex::OK, c.ok) << status.msg;
    EXPECT_EQ(server.requestsTo(kPagePath).size(), c.pages);
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
                                     "isLast=0,relationMtm=7,nameMaxMtm=9,size=0,costMs="),
                          "[DEBUG] DaZaviVor reqDataByPage cancel,requestId=5OK@",
                          "[DEBUG] DaZaviVor reqDataByPage end,requestId=5,OK@"));
}

}  // namespace
}  // namespace marketdata
