// orvex_bench_e2e: what the plug-in costs over the raw transport, end to end on loopback.
//
//   orvex_bench_e2e [--rounds N] [--only SECTIONS] [--json FILE] [--micro-json FILE]
//                   [--plugin PATH] [--command TEXT] [--contenders raw,plain,signed]
//                   [--tls-cert PEM --tls-key PEM]
//     Starts the local history service in-process with the benchmark's data set, loads the
//     plug-in as a host does, runs the sections (range,page,last,threads,memory,transport;
//     all by default; the https figures of transport need --tls-cert and --tls-key), adds the micro
//     benchmark figures of FILE (Google Benchmark JSON) and prints one table; --json also writes it
//     as JSON. Exit code 0 when every goal was met, 2 when a speed goal was missed, 1 when a run
//     failed or lost or misplaced a record.
//   orvex_bench_e2e --child memory-fast|memory-slow --url URL [--plugin PATH]
//     One memory figure, in a process of its own (started by the run above).
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "BenchData.h"
#include "PluginHost.h"
#include "Report.h"
#include "Scenarios.h"
#include "hqserver/HqServer.h"

#ifndef ORVEX_BENCH_PLUGIN_PATH
#define ORVEX_BENCH_PLUGIN_PATH ""
#endif

namespace {

using orvex::bench::Report;

struct Arguments {
  std::map<std::string, std::string> values;
  std::string error;

  std::string get(const std::string& name, const std::string& fallback = "") const {
    auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
  }
};

Arguments parse(int argc, char** argv) {
  static const std::set<std::string> known = {
      "--rounds", "--only", "--json",       "--micro-json", "--plugin", "--command",
      "--child",  "--url",  "--contenders", "--tls-cert",   "--tls-key"};
  Arguments args;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (known.count(name) == 0 || i + 1 >= argc) {
      args.error = known.count(name) == 0 ? "unknown argument " + name : name + " needs a value";
      return args;
    }
    args.values[name] = argv[++i];
  }
  return args;
}

std::string selfPath() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

int runAll(const Arguments& args, const std::string& pluginPath) {
  Report report;
  report.setCommand(args.get("--command"));
  const int rounds = std::stoi(args.get("--rounds", "3"));
  if (rounds < 1) throw std::runtime_error("--rounds must be at least 1");

  std::cerr << "bench: building the data set and starting the service\n";
  orvex::hqserver::ServerOptions serverOptions;
  orvex::hqserver::HqServer server(serverOptions, orvex::bench::BenchData::build());
  std::string error;
  if (!server.start(error)) throw std::runtime_error("cannot start the service: " + error);

  orvex::bench::PluginHost host(pluginPath);
  orvex::bench::Scenarios scenarios(server, host,
                                    {rounds, selfPath(), pluginPath, args.get("--contenders"),
                                     args.get("--tls-cert"), args.get("--tls-key")});
  const std::string only = args.get("--only");
  const std::pair<const char*, void (orvex::bench::Scenarios::*)(Report&)> sections[] = {
      {"range", &orvex::bench::Scenarios::rangePath},
      {"page", &orvex::bench::Scenarios::pagePath},
      {"last", &orvex::bench::Scenarios::lastData},
      {"threads", &orvex::bench::Scenarios::concurrency},
      {"memory", &orvex::bench::Scenarios::memory},
      {"transport", &orvex::bench::Scenarios::transport},
  };
  for (const auto& [name, run] : sections) {
    if (!orvex::bench::listed(only, name)) continue;
    std::cerr << "bench: " << name << "\n";
    (scenarios.*run)(report);
  }
  server.stop();

  if (!args.get("--micro-json").empty() && !report.addMicro(args.get("--micro-json"), error)) {
    report.note("micro benchmarks: " + error);
  }
  report.note("Figures are medians of " + std::to_string(rounds) +
              " rounds after one warm-up; the contenders of a section take turns going first.");
  std::cout << report.table() << std::flush;
  const std::string jsonPath = args.get("--json");
  if (!jsonPath.empty()) {
    std::ofstream out(jsonPath);
    out << report.json();
    if (!out) throw std::runtime_error("cannot write " + jsonPath);
  }
  if (report.anyCheckFailed()) return 1;
  return report.anyGoalMissed() ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Arguments args = parse(argc, argv);
  if (!args.error.empty()) {
    std::cerr << "orvex_bench_e2e: " << args.error << "\n";
    return 1;
  }
  const std::string pluginPath = args.get("--plugin", ORVEX_BENCH_PLUGIN_PATH);
  try {
    const std::string child = args.get("--child");
    if (child == "memory-fast" || child == "memory-slow") {
      return orvex::bench::runMemoryChild(pluginPath, args.get("--url"), child == "memory-slow");
    }
    if (!child.empty()) throw std::runtime_error("unknown child " + child);
    return runAll(args, pluginPath);
  } catch (const std::exception& e) {
    std::cerr << "orvex_bench_e2e: " << e.what() << "\n";
    return 1;
  }
}
