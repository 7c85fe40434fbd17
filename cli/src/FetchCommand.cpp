#include "FetchCommand.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "PrintingSpi.h"

namespace orvex {
namespace cli {
namespace {

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

void FetchCommand::run() {
  const std::vector<TopicReq> requests = buildRequests(c_.options);
  PrintingSpi spi(*c_.sink);
  const auto start = std::chrono::steady_clock::now();

  RequestRunner runner(c_.api, spi, c_.interrupt.flag(), requests);
  runner.start(std::min<size_t>(static_cast<size_t>(c_.options.threads), requests.size()));
  runner.wait(
      [&] { c_.progress.draw(c_.sink->records(), c_.sink->batches(), secondsSince(start)); });
  // The requests have returned, but their last batches may still be queued: stopping the pools
  // runs what is queued first.
  c_.api.release();
  const double seconds = secondsSince(start);
  c_.progress.draw(c_.sink->records(), c_.sink->batches(), seconds);
  c_.progress.finish();
  report(requests, runner.results(), spi.lastBatches(), seconds);
}

void FetchCommand::report(const std::vector<TopicReq>& requests,
                          const std::vector<ResultStatus>& results, uint64_t lastBatches,
                          double seconds) {
  if (readCancelFlag(c_.interrupt.flag())) return;  // cancelled: the caller says so
  const std::string& key = c_.options.args[0];
  for (size_t i = 0; i < results.size(); ++i) {
    const std::string first = requests[i].targets.empty() ? "" : requests[i].targets.front();
    if (!results[i].ok()) {
      c_.outcome.failed("fetch " + first, results[i]);
      continue;
    }
    if (c_.options.byModifyTime) continue;
    const uint64_t got = c_.sink->recordsOf(first);
    if (got == 0) {
      c_.outcome.warn("no record of " + first + " for key '" + key + "' in the range");
    } else if (got >= kMaxSteps * 1000 && got < static_cast<uint64_t>(requests[i].maxCount)) {
      c_.outcome.incomplete("fetch " + first + " stopped at the plug-in's limit of " +
                            std::to_string(kMaxSteps) + " steps");
    }
  }
  if (c_.options.byModifyTime && results.front().ok()) {
    if (lastBatches == 0) {
      c_.outcome.incomplete("the page walk ended without the service's last page");
    } else if (c_.sink->records() == 0) {
      c_.outcome.warn("no record of key '" + key + "' modified in the range");
    }
  }
  if (c_.progress.enabled()) {
    c_.io.err << "fetched " << groupDigits(c_.sink->records()) << " records in "
              << groupDigits(c_.sink->batches()) << " batches from " << requests.size()
              << (requests.size() == 1 ? " request" : " requests") << " in "
              << secondsText(seconds, 2) << "\n";
  }
}

}  // namespace cli
}  // namespace orvex
