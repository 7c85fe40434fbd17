// The plug-in's own work per request, apart from the network: signing a request, the request's
// text form, a log statement at a disabled level against the bare level test, copying a batch
// into its delivery task, and handing tasks through the worker pools to the host's callback.
#include <Poco/URI.h>
#include <benchmark/benchmark.h>
#include <log4cxx/logger.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "marketdata/WorkerPoolGroup.h"
#include "marketdata/WrapperReqDataTask.h"
#include "orvex/DebugUtils.h"
#include "orvex/IHistorySpi.h"
#include "orvex/Log.h"
#include "orvex/Records.h"
#include "orvex/RequestSigner.h"

namespace {

constexpr int64_t kBaseTime = 1700000000000000000;

// The URL and headers of one range step, as the client sends them.
Poco::URI rangeUri() {
  Poco::URI uri;
  uri.setPath("/QryCodeType");
  uri.addQueryParameter("types", "tick");
  uri.addQueryParameter("codes", "BENCH.RANGE");
  uri.addQueryParameter("count", "1000");
  uri.addQueryParameter("beginTime", std::to_string(kBaseTime));
  uri.addQueryParameter("endTime", std::to_string(kBaseTime + 274999750000000));
  return uri;
}

Poco::URI lastDataUri(int targets) {
  std::string codes;
  for (int i = 0; i < targets; ++i) codes += "L" + std::to_string(10000 + i) + ",";
  Poco::URI uri;
  uri.setPath("/QryLast");
  uri.addQueryParameter("codes", codes);
  uri.addQueryParameter("types", "tick");
  return uri;
}

orvex::HeaderMap identificationHeaders() {
  return {{"Request-Timeout", "8000"},
          {"kvauth", ""},
          {"user", "bench"},
          {"product_id", "orvex-bench_7"},
          {"mac", "02:00:00:00:00:01"},
          {"kvversion", "1.0.0"}};
}

orvex::TopicReq rangeRequest() {
  orvex::TopicReq req;
  req.key = "tick";
  req.targets = {"BENCH.RANGE"};
  req.beginTime = kBaseTime;
  req.endTime = kBaseTime + 274999750000000;
  req.maxCount = 500000;
  req.flags = orvex::ByModifyTime | orvex::HighPrio;
  return req;
}

std::vector<orvex::CloudTopic> batchOf(int records) {
  orvex::CloudTopic topic{"BENCH.RANGE", "tick", {}};
  for (int i = 0; i < records; ++i) {
    topic.bodies.push_back({kBaseTime + int64_t{i} * 250000000, 3000.0 + (i % 997) * 0.25,
                            "v=" + std::to_string(i % 1000) + ",o=1"});
  }
  return {topic};
}

// The plug-in's logger as a production host leaves it: DEBUG off.
log4cxx::LoggerPtr quietLogger() {
  log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(orvex::kLoggerName);
  logger->setLevel(log4cxx::Level::getInfo());
  return logger;
}

// Counts deliveries; the benchmark waits on the count.
class CountingSpi : public orvex::IHistorySpi {
 public:
  void onReqData(int32_t, int64_t, const std::vector<orvex::CloudTopic>&,
                 const orvex::ResultStatus&, bool) override {
    calls.fetch_add(1, std::memory_order_release);
  }
  std::atomic<uint64_t> calls{0};
};

// Argument 0: a range step's URL; 1: a latest-data URL of 500 targets (about 4 KB of query).
void BM_SignRequest(benchmark::State& state) {
  const Poco::URI uri = state.range(0) == 0 ? rangeUri() : lastDataUri(500);
  const orvex::HeaderMap headers = identificationHeaders();
  for (auto _ : state) {
    orvex::RequestSigner signer("bench-access-key", "bench-access-secret");
    signer.sign(uri, "GET", std::string(), headers);
    orvex::HeaderMap merged = signer.signedHeaders(headers);
    benchmark::DoNotOptimize(merged);
  }
}
BENCHMARK(BM_SignRequest)->Arg(0)->Arg(1);

void BM_TopicReqToString(benchmark::State& state) {
  const orvex::TopicReq req = rangeRequest();
  for (auto _ : state) {
    std::string text = req.toString();
    benchmark::DoNotOptimize(text.data());
  }
}
BENCHMARK(BM_TopicReqToString);

// The bare cost every statement pays: the level test.
void BM_LogLevelTest(benchmark::State& state) {
  const log4cxx::LoggerPtr logger = quietLogger();
  for (auto _ : state) {
    bool enabled = logger->isDebugEnabled();
    benchmark::DoNotOptimize(enabled);
  }
}
BENCHMARK(BM_LogLevelTest)->MinTime(1.0);

// A whole statement with a record in it, at the disabled DEBUG level: nothing may be built.
void BM_LogStatementDisabled(benchmark::State& state) {
  const log4cxx::LoggerPtr logger = quietLogger();
  const orvex::TopicReq req = rangeRequest();
  const int32_t requestId = 7;
  for (auto _ : state) {
    ORVEX_LOG_DEBUG(logger, "reqDataByRange begin,requestId=" << requestId << "," << req);
  }
}
BENCHMARK(BM_LogStatementDisabled)->MinTime(1.0);

// The debug print every range step makes, at the disabled level, with its title already built.
void BM_DebugPrintDisabled(benchmark::State& state) {
  quietLogger();
  const std::string title = "reqDataByRange from history api,requestId=7,reqSize=1000,rspSize=1000";
  const orvex::UtcTimePeriod period{kBaseTime, kBaseTime + 249750000000};
  for (auto _ : state) orvex::DebugUtils::debugPrint(title, period);
}
BENCHMARK(BM_DebugPrintDisabled);

// The copy every delivery makes of its batch (1000 records), into a task.
void BM_TaskOfBatch(benchmark::State& state) {
  const std::vector<orvex::CloudTopic> batch = batchOf(static_cast<int>(state.range(0)));
  CountingSpi spi;
  for (auto _ : state) {
    std::shared_ptr<orvex::IQuoteTask> task = std::make_shared<orvex::WrapperReqDataTask>(
        false, 1, 0, batch, orvex::ResultStatus(), &spi);
    benchmark::DoNotOptimize(task.get());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TaskOfBatch)->Arg(1000);

// Tasks of one request through the pool group to the host's callback: 1000 tasks per iteration,
// timed until the last has run.
void BM_PoolDispatch(benchmark::State& state) {
  constexpr int kTasks = 1000;
  marketdata::WorkerPoolGroup group(static_cast<int32_t>(state.range(0)));
  orvex::ThreadPoolParam param;
  for (const auto& pool : group.pools) {
    pool->setParam(param);
    pool->start();
  }
  CountingSpi spi;
  const std::vector<orvex::CloudTopic> empty;
  uint64_t expected = 0;
  for (auto _ : state) {
    for (int i = 0; i < kTasks; ++i) {
      group.dispatch("BENCH.RANGE@tick", std::make_shared<orvex::WrapperReqDataTask>(
                                             false, 1, 0, empty, orvex::ResultStatus(), &spi));
    }
    expected += kTasks;
    while (spi.calls.load(std::memory_order_acquire) < expected) std::this_thread::yield();
  }
  group.stopAll();
  state.SetItemsProcessed(state.iterations() * kTasks);
}
BENCHMARK(BM_PoolDispatch)->Arg(1)->Arg(4)->UseRealTime();

// One task at a time, each waited for before the next: what a delivery costs when the pool's
// thread is asleep, as it is between the steps of a request (wake-up and hand-off included).
void BM_PoolHandOff(benchmark::State& state) {
  marketdata::WorkerPoolGroup group(1);
  group.pools.front()->setParam(orvex::ThreadPoolParam());
  group.pools.front()->start();
  CountingSpi spi;
  const std::vector<orvex::CloudTopic> empty;
  uint64_t expected = 0;
  for (auto _ : state) {
    group.dispatch("BENCH.RANGE@tick", std::make_shared<orvex::WrapperReqDataTask>(
                                           false, 1, 0, empty, orvex::ResultStatus(), &spi));
    ++expected;
    while (spi.calls.load(std::memory_order_acquire) < expected) std::this_thread::yield();
  }
  group.stopAll();
}
BENCHMARK(BM_PoolHandOff)->UseRealTime();

}  // namespace
