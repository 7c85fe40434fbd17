#include "Scenarios.h"

#include <Poco/CountingStream.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "BenchData.h"
#include "RawClient.h"
#include "orvex/Environment.h"

namespace orvex {
namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPools = 4;
constexpr int32_t kRangeRecords = 500'000;     // 500 steps of 1000
constexpr int64_t kPageRecords = 500'000;      // 500 pages of 1000
constexpr int kLastRepeats = 10;               // getLastData calls per measured run
constexpr int32_t kMemoryRecords = 1'000'000;  // 1000 steps
constexpr double kHttpsGoal = 0.80;            // https records/s against http's, both kept alive
constexpr auto kDeliveryTimeout = std::chrono::minutes(5);
// The slow host: longer per batch than the service takes to answer one step.
constexpr auto kSlowBatch = std::chrono::milliseconds(2);
// A request's records in memory: 1,000,000 bodies of sizeof(TopicBody) bytes, twice over for
// the vectors' growth; the full-speed host keeps only a few batches at any time.
constexpr double kFastGrowthGoalMb = 32;
constexpr double kSlowGrowthGoalMb = 2.0 * kMemoryRecords * sizeof(TopicBody) / 1e6;

// User and system time of every thread of the process so far.
double processCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double secondsSince(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double>(end - start).count();
}

// Range over the newest `count` records of a series of `size` records.
RangeQuery newestRange(const std::string& target, int64_t size, int32_t count) {
  RangeQuery q;
  q.target = target;
  q.key = BenchData::kKey;
  q.beginTime = BenchData::timeAt(0);
  q.endTime = BenchData::timeAt(size - 1);
  q.maxCount = count;
  return q;
}

TopicReq toRequest(const RangeQuery& q) {
  TopicReq req;
  req.key = q.key;
  req.targets = {q.target};
  req.beginTime = q.beginTime;
  req.endTime = q.endTime;
  req.maxCount = q.maxCount;
  return req;
}

TopicReq toRequest(const PageQuery& q) {
  TopicReq req;
  req.key = q.key;
  req.targets = {q.target};
  req.beginTime = q.beginMtm;
  req.endTime = q.endMtm;
  req.flags = ByModifyTime;
  return req;
}

std::vector<std::string> lastTargets() {
  std::vector<std::string> targets;
  targets.reserve(BenchData::kLastTargets);
  for (int i = 0; i < BenchData::kLastTargets; ++i) targets.push_back(BenchData::lastTarget(i));
  return targets;
}

// Times a raw run and checks that it read what was expected.
RunResult timedRaw(const std::function<RunResult()>& run, uint64_t expected) {
  const Clock::time_point start = Clock::now();
  RunResult result = run();
  result.seconds = secondsSince(start, Clock::now());
  if (result.complete && result.records != expected) {
    result.complete = false;
    result.error = "read " + std::to_string(result.records) + " of " + std::to_string(expected);
  }
  return result;
}

// The run with the median time; its records and requests come with it.
RunResult median(std::vector<RunResult> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const RunResult& a, const RunResult& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

// The median over the rounds of one contender's rate against the raw floor's in the same round:
// runs of one round are close in time, so a change of machine load touches both.
double medianRatio(const std::vector<RunResult>& runs, const std::vector<RunResult>& rawRuns) {
  std::vector<double> ratios;
  for (size_t i = 0; i < runs.size() && i < rawRuns.size(); ++i) {
    const double floor = rawRuns[i].recordsPerSecond();
    if (floor > 0) ratios.push_back(runs[i].recordsPerSecond() / floor);
  }
  if (ratios.empty()) return 0;
  std::sort(ratios.begin(), ratios.end());
  return ratios.size() % 2 == 1 ? ratios[ratios.size() / 2]
                                : (ratios[ratios.size() / 2 - 1] + ratios[ratios.size() / 2]) / 2;
}

double medianCpuMicros(const std::vector<RunResult>& runs) {
  std::vector<double> micros;
  for (const RunResult& r : runs) micros.push_back(r.cpuMicrosPerRequest());
  std::sort(micros.begin(), micros.end());
  return micros[micros.size() / 2];
}

std::string firstError(const std::vector<RunResult>& runs) {
  for (const RunResult& r : runs) {
    if (!r.complete) return r.error.empty() ? "incomplete run" : r.error;
  }
  return "";
}

long statusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

// "RESULT a=1 b=2" -> {a: 1, b: 2}.
std::map<std::string, double> parseResultLine(const std::string& output) {
  std::map<std::string, double> values;
  size_t at = output.find("RESULT ");
  if (at == std::string::npos) return values;
  std::istringstream in(output.substr(at + 7, output.find('\n', at) - at - 7));
  std::string item;
  while (in >> item) {
    size_t eq = item.find('=');
    if (eq != std::string::npos) values[item.substr(0, eq)] = std::stod(item.substr(eq + 1));
  }
  return values;
}

std::string runChild(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, got);
  pclose(pipe);
  return output;
}

// The body size of one 1,000-record "/QryCodeType" answer, asked for with `coding`.
uint64_t answerBytes(uint16_t port, const RangeQuery& query, const std::string& coding) {
  Poco::Net::HTTPClientSession session("127.0.0.1", port);
  Poco::Net::HTTPRequest request(
      Poco::Net::HTTPRequest::HTTP_GET,
      "/QryCodeType?types=" + query.key + "&codes=" + query.target + "&count=1000",
      Poco::Net::HTTPMessage::HTTP_1_1);
  request.set("Accept-Encoding", coding);
  session.sendRequest(request);
  Poco::Net::HTTPResponse response;
  std::istream& in = session.receiveResponse(response);
  Poco::CountingInputStream counter(in);
  counter.ignore(std::numeric_limits<std::streamsize>::max());
  return static_cast<uint64_t>(counter.chars());
}

}  // namespace

// Whether `name` is in the comma-separated `list`; an empty list names everything.
bool listed(const std::string& list, const std::string& name) {
  if (list.empty()) return true;
  std::istringstream in(list);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item == name) return true;
  }
  return false;
}

Scenarios::Scenarios(hqserver::HqServer& server, const PluginHost& host, ScenarioOptions options)
    : server_(server), host_(host), options_(std::move(options)), url_(server.url()) {}

void Scenarios::rangePath(Report& report) {
  const RangeQuery query =
      newestRange(BenchData::kRangeTarget, BenchData::kRangeRecords, kRangeRecords);
  RawClient raw("127.0.0.1", server_.port());
  std::unique_ptr<IHistoryApi> plain = host_.open(url_, false, kPools);
  std::unique_ptr<IHistoryApi> signing = host_.open(url_, true, kPools);
  std::unique_ptr<IHistoryApi> poolless = host_.open(url_, false, 0);
  const TopicReq req = toRequest(query);
  std::vector<Contender> contenders = {
      {"raw", "raw floor", Kind::kRaw,
       [&] { return timedRaw([&] { return raw.range(query); }, kRangeRecords); }},
      {"plain", "plug-in, no key", Kind::kPlugin,
       [&] {
         return pluginRequest(*plain, req, CountingSpi::Order::kNewestFirst, kRangeRecords,
                              "/QryCodeType");
       }},
      {"signed", "plug-in, key+secret", Kind::kPlugin,
       [&] {
         return pluginRequest(*signing, req, CountingSpi::Order::kNewestFirst, kRangeRecords,
                              "/QryCodeType");
       }},
      {"nopool", "diagnostic: plug-in, no key, no pools", Kind::kDiagnostic,
       [&] { return pluginWithoutPools(*poolless, req, kRangeRecords); }},
  };
  compare(report, "1 range", "records", contenders);
  report.note(
      "1 range, diagnostic: a wrapper never given init() fetches the same request but drops "
      "every delivery; the gap to it is the cost of copying, queueing and delivering the "
      "batches through the worker pools.");
}

void Scenarios::transport(Report& report) {
  const std::string section = "7 transport";
  const RangeQuery query =
      newestRange(BenchData::kRangeTarget, BenchData::kRangeRecords, kRangeRecords);
  const TopicReq req = toRequest(query);
  for (const char* coding : {"identity", "gzip"}) {
    const uint64_t bytes = answerBytes(server_.port(), query, coding);
    report.add(section, std::string("body bytes of a 1,000-record answer, ") + coding,
               static_cast<double>(bytes), "bytes");
  }
  vantor::Environment& env = vantor::Environment::instance();
  std::unique_ptr<IHistoryApi> http = host_.open(url_, false, kPools);
  env.setValue("http_gzip", "true");
  std::unique_ptr<IHistoryApi> gzip = host_.open(url_, false, kPools);
  env.setValue("http_gzip", "false");
  auto run = [&](IHistoryApi& api) {
    return pluginRequest(api, req, CountingSpi::Order::kNewestFirst, kRangeRecords, "/QryCodeType");
  };
  std::vector<Contender> contenders = {
      {"http", "http, no gzip", Kind::kRaw, [&] { return run(*http); }},
      {"gzip", "http, gzip", Kind::kDiagnostic, [&] { return run(*gzip); }},
  };
  std::unique_ptr<hqserver::HqServer> tlsServer;
  std::unique_ptr<IHistoryApi> https;
  if (!options_.tlsCert.empty()) {
    hqserver::ServerOptions tlsOptions = server_.options();
    tlsOptions.tlsCert = options_.tlsCert;
    tlsOptions.tlsKey = options_.tlsKey;
    tlsServer = std::make_unique<hqserver::HqServer>(tlsOptions, server_.store());
    std::string error;
    if (!tlsServer->start(error)) throw std::runtime_error("https service: " + error);
    env.setValue("tls_ca_file", options_.tlsCert);
    https = host_.open(tlsServer->url(), false, kPools);
    contenders.emplace_back("https", "https, no gzip", Kind::kPlugin, [&] {
      const uint64_t before = tlsServer->requestCount("/QryCodeType");
      RunResult result = run(*https);
      result.requests = tlsServer->requestCount("/QryCodeType") - before;
      return result;
    });
  }
  compare(report, section, "records", contenders, kHttpsGoal);
  if (https) https.reset();
  if (tlsServer) tlsServer->stop();
}

void Scenarios::pagePath(Report& report) {
  // The newest kPageRecords records by modification time: 500 pages of the service's 1000.
  PageQuery query;
  query.target = BenchData::kRangeTarget;
  query.key = BenchData::kKey;
  query.beginMtm = BenchData::mtmAt(BenchData::kRangeRecords - kPageRecords);
  query.endMtm = BenchData::mtmAt(BenchData::kRangeRecords - 1);
  RawClient raw("127.0.0.1", server_.port());
  std::unique_ptr<IHistoryApi> plain = host_.open(url_, false, kPools);
  std::unique_ptr<IHistoryApi> signing = host_.open(url_, true, kPools);
  const TopicReq req = toRequest(query);
  std::vector<Contender> contenders = {
      {"raw", "raw floor", Kind::kRaw,
       [&] { return timedRaw([&] { return raw.pages(query); }, kPageRecords); }},
      {"plain", "plug-in, no key", Kind::kPlugin,
       [&] {
         return pluginRequest(*plain, req, CountingSpi::Order::kOldestFirst, kPageRecords,
                              "/QryPageTgtDetailV2");
       }},
      {"signed", "plug-in, key+secret", Kind::kPlugin,
       [&] {
         return pluginRequest(*signing, req, CountingSpi::Order::kOldestFirst, kPageRecords,
                              "/QryPageTgtDetailV2");
       }},
  };
  compare(report, "2 page", "records", contenders);
}

void Scenarios::lastData(Report& report) {
  const std::vector<std::string> targets = lastTargets();
  const uint64_t expected = uint64_t{kLastRepeats} * targets.size();
  RawClient raw("127.0.0.1", server_.port());
  std::unique_ptr<IHistoryApi> plain = host_.open(url_, false, kPools);
  std::unique_ptr<IHistoryApi> signing = host_.open(url_, true, kPools);
  auto rawRun = [&] {
    RunResult total;
    total.complete = true;
    for (int i = 0; i < kLastRepeats && total.complete; ++i) {
      RunResult one = raw.lastData(BenchData::kKey, targets);
      total.records += one.records;
      total.requests += one.requests;
      total.complete = one.complete;
      total.error = one.error;
    }
    return total;
  };
  std::vector<Contender> contenders = {
      {"raw", "raw floor", Kind::kRaw, [&] { return timedRaw(rawRun, expected); }},
      {"plain", "plug-in, no key", Kind::kPlugin, [&] { return pluginLastData(*plain, targets); }},
      {"signed", "plug-in, key+secret", Kind::kPlugin,
       [&] { return pluginLastData(*signing, targets); }},
  };
  compare(report, "3 last data", "targets", contenders);
}

void Scenarios::compare(Report& report, const std::string& section, const std::string& itemName,
                        std::vector<Contender>& contenders, double goal) {
  contenders.erase(
      std::remove_if(contenders.begin(), contenders.end(),
                     [this](const Contender& c) { return !listed(options_.contenders, c.name); }),
      contenders.end());
  for (Contender& c : contenders) c.run();  // warm-up: connections, caches, page selections
  const size_t n = contenders.size();
  for (int round = 0; round < options_.rounds; ++round) {
    for (size_t i = 0; i < n; ++i) {
      Contender& c = contenders[(i + static_cast<size_t>(round)) % n];
      const double cpuBefore = processCpuSeconds();
      RunResult result = c.run();
      result.cpuSeconds = processCpuSeconds() - cpuBefore;
      c.results.push_back(std::move(result));
    }
  }
  const Contender* raw =
      contenders.empty() || contenders.front().kind != Kind::kRaw ? nullptr : &contenders.front();
  for (const Contender& c : contenders) {
    const RunResult m = median(c.results);
    report.add(section, c.label + ": " + itemName + "/s", m.recordsPerSecond(), itemName + "/s");
    report.add(section, c.label + ": requests/s", m.requestsPerSecond(), "requests/s");
    report.add(section, c.label + ": process CPU per request", medianCpuMicros(c.results), "us");
    if (c.kind == Kind::kDiagnostic) {
      if (raw != nullptr) {
        report.add(section, c.label + " / " + raw->label, medianRatio(c.results, raw->results),
                   "ratio");
      }
      continue;
    }
    const std::string error = firstError(c.results);
    report.check(section, c.label + ": " + itemName + " per run", static_cast<double>(m.records),
                 itemName, "all, in order", error.empty());
    if (!error.empty()) report.note(section + ", " + c.label + ": " + error);
    if (c.kind == Kind::kPlugin && raw != nullptr) {
      const double ratio = medianRatio(c.results, raw->results);
      char goalText[16];
      std::snprintf(goalText, sizeof goalText, ">= %.2f", goal);
      report.add(section, c.label + " / " + raw->label, ratio, "ratio", goalText, ratio >= goal);
    }
  }
}

RunResult Scenarios::pluginRequest(IHistoryApi& api, const TopicReq& req, CountingSpi::Order order,
                                   uint64_t expected, const std::string& path) {
  const int32_t requestId = ++nextRequestId_;
  spi_.reset(requestId, order);
  const uint64_t before = server_.requestCount(path);
  bool cancel = false;
  const Clock::time_point start = Clock::now();
  const ResultStatus status = api.reqData(req, &spi_, requestId, cancel);
  const bool arrived = spi_.waitLast(kDeliveryTimeout);
  const CountingSpi::Tally tally = spi_.tally();

  RunResult result;
  result.records = tally.records;
  result.requests = server_.requestCount(path) - before;
  result.seconds = secondsSince(start, arrived ? tally.lastAt : Clock::now());
  if (!status.ok()) {
    result.error = "reqData: " + status.toString();
  } else if (!arrived) {
    result.error = "the last batch never arrived";
  } else if (tally.failedBatches + tally.foreignBatches + tally.misplaced > 0) {
    result.error = "failed, foreign or misplaced batches";
  } else if (tally.records != expected) {
    result.error = "delivered " + std::to_string(tally.records) + " of " +
                   std::to_string(expected) + " records";
  }
  result.complete = result.error.empty();
  return result;
}

// The same request on a wrapper without pools: the driver and the client alone, deliveries
// dropped. The records are those the driver's full steps account for.
RunResult Scenarios::pluginWithoutPools(IHistoryApi& api, const TopicReq& req, uint64_t expected) {
  RunResult result;
  const uint64_t before = server_.requestCount("/QryCodeType");
  bool cancel = false;
  const Clock::time_point start = Clock::now();
  const ResultStatus status = api.reqData(req, &spi_, ++nextRequestId_, cancel);
  result.seconds = secondsSince(start, Clock::now());
  result.requests = server_.requestCount("/QryCodeType") - before;
  result.records = status.ok() ? expected : 0;
  result.complete = status.ok();
  return result;
}

RunResult Scenarios::pluginLastData(IHistoryApi& api, const std::vector<std::string>& targets) {
  RunResult result;
  const uint64_t before = server_.requestCount("/QryLast");
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < kLastRepeats; ++i) {
    std::vector<CloudTopic> out;
    const ResultStatus status = api.getLastData(BenchData::kKey, targets, out);
    result.records += out.size();
    if (!status.ok() && result.error.empty()) result.error = "getLastData: " + status.toString();
  }
  result.seconds = secondsSince(start, Clock::now());
  result.requests = server_.requestCount("/QryLast") - before;
  const uint64_t expected = uint64_t{kLastRepeats} * targets.size();
  if (result.error.empty() && result.records != expected) {
    result.error = "got " + std::to_string(result.records) + " of " + std::to_string(expected);
  }
  result.complete = result.error.empty();
  return result;
}

void Scenarios::concurrency(Report& report) {
  const char* section = "4 threads";
  std::unique_ptr<IHistoryApi> api = host_.open(url_, true, kPools);
  concurrentRound(*api, 1);  // warm-up
  for (int threads : {1, 2, 4, 8}) {
    std::vector<RunResult> runs;
    for (int round = 0; round < options_.rounds; ++round) {
      runs.push_back(concurrentRound(*api, threads));
    }
    const RunResult m = median(runs);
    uint64_t lost = 0;
    for (const RunResult& r : runs) {
      lost += uint64_t{static_cast<uint64_t>(threads)} * BenchData::kThreadRecords - r.records;
    }
    const std::string label = std::to_string(threads) + (threads == 1 ? " thread" : " threads");
    report.add(section, label + ": aggregate records/s", m.recordsPerSecond(), "records/s");
    const std::string error = firstError(runs);
    report.check(section, label + ": records lost or misplaced", static_cast<double>(lost),
                 "records", "0", error.empty() && lost == 0);
    if (!error.empty()) report.note(std::string(section) + ", " + label + ": " + error);
  }
  report.note(
      "4 threads: one wrapper with 4 pools and key+secret; thread i fetches all 100,000 records "
      "of its own target, so the work grows with the threads.");
}

// `threads` host threads on one wrapper, each fetching its own target whole.
RunResult Scenarios::concurrentRound(IHistoryApi& api, int threads) {
  std::vector<std::unique_ptr<CountingSpi>> spis;
  std::vector<ResultStatus> statuses(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i) {
    spis.push_back(std::make_unique<CountingSpi>());
    spis.back()->reset(i + 1, CountingSpi::Order::kNewestFirst);
  }
  std::atomic<bool> go{false};
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&, i] {
      const TopicReq req =
          toRequest(newestRange(BenchData::threadTarget(i), BenchData::kThreadRecords,
                                static_cast<int32_t>(BenchData::kThreadRecords)));
      while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
      bool cancel = false;
      statuses[static_cast<size_t>(i)] =
          api.reqData(req, spis[static_cast<size_t>(i)].get(), i + 1, cancel);
    });
  }
  const Clock::time_point start = Clock::now();
  go.store(true, std::memory_order_release);
  for (std::thread& t : workers) t.join();

  RunResult result;
  Clock::time_point end = start;
  for (int i = 0; i < threads; ++i) {
    CountingSpi& spi = *spis[static_cast<size_t>(i)];
    const bool arrived = spi.waitLast(kDeliveryTimeout);
    const CountingSpi::Tally tally = spi.tally();
    result.records += tally.records - std::min(tally.records, tally.misplaced);
    end = std::max(end, arrived ? tally.lastAt : Clock::now());
    if (!statuses[static_cast<size_t>(i)].ok()) {
      result.error = "reqData: " + statuses[static_cast<size_t>(i)].toString();
    } else if (!arrived) {
      result.error = "a last batch never arrived";
    } else if (tally.failedBatches + tally.foreignBatches + tally.misplaced > 0) {
      result.error = "failed, foreign or misplaced batches";
    }
  }
  result.seconds = secondsSince(start, end);
  result.complete = result.error.empty();
  return result;
}

void Scenarios::memory(Report& report) {
  memoryFigure(report, false);
  memoryFigure(report, true);
  report.note(
      "5 memory: each figure is a child process holding only the plug-in (the service runs in "
      "the parent). The pools' queues hold 60000 batches, more than the 1001 batches of the "
      "request, so with a slow host nothing blocks: the undelivered batches wait in the queue "
      "and memory is bounded by the request's size, not by back-pressure.");
}

void Scenarios::memoryFigure(Report& report, bool slowSpi) {
  const char* section = "5 memory";
  const std::string label = slowSpi ? "slow host (2 ms/batch)" : "full-speed host";
  const std::string command = "'" + options_.selfPath + "' --child " +
                              (slowSpi ? "memory-slow" : "memory-fast") + " --url " + url_ +
                              " --plugin '" + options_.pluginPath + "'";
  const std::map<std::string, double> values = parseResultLine(runChild(command));
  if (values.count("peak_kb") == 0) {
    report.check(section, label + ": child run", 0, "", "completes", false);
    report.note(std::string(section) + ", " + label + ": the child printed no result");
    return;
  }
  const double peakMb = values.at("peak_kb") / 1024.0;
  const double baseMb = values.at("baseline_kb") / 1024.0;
  const double growthMb = peakMb - baseMb;
  const double goalMb = slowSpi ? kSlowGrowthGoalMb : kFastGrowthGoalMb;
  char goal[32];
  std::snprintf(goal, sizeof(goal), "<= %.0f MB", goalMb);
  report.add(section, label + ": peak RSS (VmHWM)", peakMb, "MB");
  report.add(section, label + ": RSS growth over connect", growthMb, "MB", goal,
             growthMb <= goalMb);
  report.add(section, label + ": batches queued when fetch ended", values.at("queued"), "batches");
  report.check(section, label + ": records lost", values.at("lost"), "records", "0",
               values.at("lost") == 0 && values.at("ok") == 1);
  report.add(section, label + ": records/s delivered",
             values.at("seconds") > 0 ? values.at("records") / values.at("seconds") : 0,
             "records/s");
}

int runMemoryChild(const std::string& pluginPath, const std::string& url, bool slowSpi) {
  PluginHost host(pluginPath);
  std::unique_ptr<IHistoryApi> api = host.open(url, true, kPools);
  CountingSpi spi(slowSpi ? std::chrono::duration_cast<std::chrono::microseconds>(kSlowBatch)
                          : std::chrono::microseconds(0));
  const long baselineKb = statusKb("VmHWM");

  const TopicReq req =
      toRequest(newestRange(BenchData::kRangeTarget, BenchData::kRangeRecords, kMemoryRecords));
  spi.reset(1, CountingSpi::Order::kNewestFirst);
  bool cancel = false;
  const Clock::time_point start = Clock::now();
  const ResultStatus status = api->reqData(req, &spi, 1, cancel);
  const uint64_t consumedAtFetchEnd = spi.tally().batches;
  const bool arrived = spi.waitLast(std::chrono::minutes(10));
  const CountingSpi::Tally tally = spi.tally();
  const long peakKb = statusKb("VmHWM");

  const uint64_t produced = kMemoryRecords / 1000 + 1;  // every step, then the final batch
  const bool ok = status.ok() && arrived && tally.batches == produced && tally.misplaced == 0 &&
                  tally.failedBatches == 0 && tally.foreignBatches == 0;
  std::printf(
      "RESULT records=%llu lost=%lld batches=%llu queued=%llu baseline_kb=%ld peak_kb=%ld "
      "seconds=%.6f ok=%d\n",
      static_cast<unsigned long long>(tally.records),
      static_cast<long long>(kMemoryRecords) - static_cast<long long>(tally.records),
      static_cast<unsigned long long>(tally.batches),
      static_cast<unsigned long long>(produced - std::min(produced, consumedAtFetchEnd)),
      baselineKb, peakKb, secondsSince(start, arrived ? tally.lastAt : Clock::now()), ok ? 1 : 0);
  std::fflush(stdout);
  api->release();
  return ok ? 0 : 1;
}

}  // namespace bench
}  // namespace orvex
