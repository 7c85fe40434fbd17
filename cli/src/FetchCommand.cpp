#include "FetchCommand.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "InterruptFlag.h"
#include "PrintingSpi.h"
#include "ProgressLine.h"
#include "RecordWriter.h"

namespace orvex {
namespace cli {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// Runs requests on `threadCount` threads, each taking the next request not yet started, and lets
// the caller wait for all of them with a periodic wake-up.
class RequestRunner {
 public:
  RequestRunner(IHistoryApi& api, PrintingSpi& spi, bool& cancel,
                const std::vector<TopicReq>& requests)
      : api_(api), spi_(spi), cancel_(cancel), requests_(requests), results_(requests.size()) {}

  void start(size_t threadCount) {
    running_ = threadCount;
    for (size_t i = 0; i < threadCount; ++i) threads_.emplace_back([this] { work(); });
  }

  // Calls `tick` every interval until all requests have returned, then joins the threads.
  template <typename Tick>
  void wait(Tick tick) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (running_ > 0) {
      done_.wait_for(lock, kRedrawInterval);
      lock.unlock();
      tick();
      lock.lock();
    }
    lock.unlock();
    for (std::thread& t : threads_) t.join();
  }

  const std::vector<ResultStatus>& results() const { return results_; }

 private:
  void work() {
    for (size_t i = next_++; i < requests_.size(); i = next_++) {
      results_[i] = api_.reqData(requests_[i], &spi_, static_cast<int32_t>(i + 1), cancel_);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    done_.notify_all();
  }

  IHistoryApi& api_;
  PrintingSpi& spi_;
  bool& cancel_;
  const std::vector<TopicReq>& requests_;
  std::vector<ResultStatus> results_;  // entry i written only by the thread that ran request i
  std::atomic<size_t> next_{0};
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable done_;
  size_t running_ = 0;
};

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::vector<TopicReq> FetchCommand::buildRequests(const CliOptions& options) {
  TopicReq base;
  base.key = options.args[0];
  base.beginTime = options.beginTime;
  base.endTime = options.endTime;
  base.maxCount = options.maxCount;
  const std::vector<std::string> targets(options.args.begin() + 1, options.args.end());
  if (options.byModifyTime) {
    base.flags = ByModifyTime;
    base.targets = targets;
    return {base};
  }
  std::vector<TopicReq> requests;
  for (const std::string& target : targets) {
    requests.push_back(base);
    requests.back().targets = {target};
  }
  return requests;
}

int FetchCommand::run() {
  const std::vector<TopicReq> requests = buildRequests(options_);
  auto writer = makeRecordWriter(options_.format, io_.out, true);
  PrintingSpi spi(*writer);
  ProgressLine progress(io_.err, progressEnabled());
  InterruptFlag interrupt;
  const auto start = std::chrono::steady_clock::now();

  RequestRunner runner(api_, spi, interrupt.flag(), requests);
  runner.start(std::min<size_t>(static_cast<size_t>(options_.threads), requests.size()));
  runner.wait([&] { progress.draw(spi.records(), spi.batches(), secondsSince(start)); });
  // The requests have returned, but their last batches may still be queued: stopping the pools
  // runs what is queued first.
  api_.release();
  writer->finish();
  const double seconds = secondsSince(start);
  progress.draw(spi.records(), spi.batches(), seconds);
  progress.finish();
  return report(requests, runner.results(), interrupt.interrupted(), spi.records(), spi.batches(),
                seconds);
}

bool FetchCommand::progressEnabled() const {
  switch (options_.progress) {
    case ProgressMode::Always:
      return true;
    case ProgressMode::Never:
      return false;
    case ProgressMode::Auto:
      break;
  }
  return io_.errIsTerminal;
}

int FetchCommand::report(const std::vector<TopicReq>& requests,
                         const std::vector<ResultStatus>& results, bool interrupted,
                         uint64_t records, uint64_t batches, double seconds) {
  int failures = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    if (results[i].ok()) continue;
    const std::string& first = requests[i].targets.empty() ? "" : requests[i].targets.front();
    io_.err << "orvex_cli: fetch " << first << ": " << describeStatus(results[i]) << "\n";
    ++failures;
  }
  char took[32];
  std::snprintf(took, sizeof took, "%.2f s", seconds);
  if (interrupted) {
    io_.err << "orvex_cli: interrupted: " << groupDigits(records) << " records received in "
            << groupDigits(batches) << " batches\n";
  } else if (progressEnabled()) {
    io_.err << "fetched " << groupDigits(records) << " records in " << groupDigits(batches)
            << " batches from " << requests.size()
            << (requests.size() == 1 ? " request" : " requests") << " in " << took << "\n";
  }
  if (interrupted) return kExitInterrupted;
  return failures > 0 ? kExitFailure : kExitOk;
}

}  // namespace cli
}  // namespace orvex
