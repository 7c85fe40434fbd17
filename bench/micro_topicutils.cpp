// Record text conversion, the hot path of every query answer: reading body and topic lines,
// and writing them back. Reports records/s (items) and MB/s (bytes of text).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "orvex/TopicUtils.h"

namespace {

constexpr int64_t kBaseTime = 1700000000000000000;  // nanoseconds, late 2023

// Bodies shaped like the service's answers: nanosecond times one second apart, prices with a
// few decimals, a short data text with commas.
std::vector<orvex::TopicBody> makeBodies(int count) {
  std::vector<orvex::TopicBody> bodies;
  bodies.reserve(count);
  for (int i = 0; i < count; ++i) {
    bodies.push_back({kBaseTime + int64_t{i} * 1000000000, 3000.0 + (i % 997) * 0.25,
                      "v=" + std::to_string(i % 1000) + ",o=1"});
  }
  return bodies;
}

// Topic records: `targets` targets, `perTarget` consecutive lines each.
std::vector<orvex::CloudTopic> makeTopics(int targets, int perTarget) {
  std::vector<orvex::CloudTopic> topics;
  for (int t = 0; t < targets; ++t) {
    topics.push_back({"60" + std::to_string(1000 + t) + ".SH", "kline_1m", makeBodies(perTarget)});
  }
  return topics;
}

void BM_ReadBodyLines(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::string text = orvex::TopicUtils::bodies2Text(makeBodies(count));
  for (auto _ : state) {
    std::vector<orvex::TopicBody> out;
    bool ok = orvex::TopicUtils::basicRec2TopicBodys(text, out);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReadBodyLines)->Arg(1000)->Arg(100000);

void BM_ReadTopicLines(benchmark::State& state) {
  const int targets = static_cast<int>(state.range(0));
  const int perTarget = static_cast<int>(state.range(1));
  const std::string text = orvex::TopicUtils::topics2Text(makeTopics(targets, perTarget));
  for (auto _ : state) {
    std::vector<orvex::CloudTopic> out;
    int64_t maxTime = 0;
    bool ok = orvex::TopicUtils::tgtTopicRaw2Topics("kline_1m", text, out, maxTime);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * targets * perTarget);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
// One target with many lines (a range answer); many targets with one line each (a latest-data
// answer).
BENCHMARK(BM_ReadTopicLines)->Args({1, 100000})->Args({100, 1000})->Args({10000, 1});

void BM_WriteBodyLines(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::vector<orvex::TopicBody> bodies = makeBodies(count);
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = orvex::TopicUtils::bodies2Text(bodies);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_WriteBodyLines)->Arg(100000);

}  // namespace
