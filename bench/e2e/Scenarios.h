// The end-to-end figures: the plug-in against the raw transport floor on the range path, the
// page path and the latest-data lookup; concurrent host threads; peak memory of one large
// request (in child processes, so that each figure has a process of its own).
//
// Every comparison runs each contender once to warm up, then `rounds` times, rotating which
// runs first so that machine noise does not favour one, and reports the medians. Not
// thread-safe; runs on the host's main thread (it starts its own threads where it measures
// concurrency).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "CountingSpi.h"
#include "PluginHost.h"
#include "Queries.h"
#include "Report.h"
#include "hqserver/HqServer.h"
#include "orvex/IHistoryApi.h"

namespace orvex {
namespace bench {

struct ScenarioOptions {
  int rounds = 3;
  std::string selfPath;    // this executable, run again for each memory figure
  std::string pluginPath;  // the plug-in, handed to the child processes
  // Which contenders of the comparisons run ("raw", "plain", "signed"); all when empty. Lets a
  // profiler watch one of them alone.
  std::string contenders;
  // PEM certificate (self-signed, for 127.0.0.1) and key of the https service of section 7;
  // without them the https figures are left out.
  std::string tlsCert;
  std::string tlsKey;
};

class Scenarios {
 public:
  // `server` must be started and serve BenchData.
  Scenarios(hqserver::HqServer& server, const PluginHost& host, ScenarioOptions options);

  void rangePath(Report& report);
  void pagePath(Report& report);
  void lastData(Report& report);
  void concurrency(Report& report);
  void memory(Report& report);
  // Section 7: gzip (answer size, records/s) and https against http, all with kept-alive sessions.
  void transport(Report& report);

  Scenarios(const Scenarios&) = delete;
  Scenarios& operator=(const Scenarios&) = delete;

 private:
  // kRaw: the floor the others are held against; kDiagnostic: shows where time goes, no goal.
  enum class Kind { kRaw, kPlugin, kDiagnostic };
  struct Contender {
    Contender(std::string name, std::string label, Kind kind, std::function<RunResult()> run)
        : name(std::move(name)), label(std::move(label)), kind(kind), run(std::move(run)) {}

    std::string name;  // as --contenders names it
    std::string label;
    Kind kind;
    std::function<RunResult()> run;
    std::vector<RunResult> results;  // one per round
  };

  // Ratios of kPlugin contenders to the first (kRaw) contender must reach `goal`.
  void compare(Report& report, const std::string& section, const std::string& itemName,
               std::vector<Contender>& contenders, double goal = 0.90);
  RunResult pluginRequest(IHistoryApi& api, const TopicReq& req, CountingSpi::Order order,
                          uint64_t expected, const std::string& path);
  RunResult pluginWithoutPools(IHistoryApi& api, const TopicReq& req, uint64_t expected);
  RunResult pluginLastData(IHistoryApi& api, const std::vector<std::string>& targets);
  RunResult concurrentRound(IHistoryApi& api, int threads);
  void memoryFigure(Report& report, bool slowSpi);

  hqserver::HqServer& server_;
  const PluginHost& host_;
  const ScenarioOptions options_;
  const std::string url_;
  CountingSpi spi_;
  int32_t nextRequestId_ = 0;
};

// Whether `name` is in the comma-separated `list`; an empty list names everything.
bool listed(const std::string& list, const std::string& name);

// The child side of a memory figure: loads the plug-in, runs one 1,000,000-record request
// against `url` with a full-speed or a slow host callback, and prints one "RESULT key=value..."
// line on stdout. Returns the process exit code.
int runMemoryChild(const std::string& pluginPath, const std::string& url, bool slowSpi);

}  // namespace bench
}  // namespace orvex
