#include "DownloadCommand.h"

#include <algorithm>
#include <climits>
#include <random>
#include <thread>

#include "PartitionFile.h"

namespace orvex {
namespace cli {
namespace {

constexpr size_t kMaxPartitions = 1000000;

}  // namespace

std::chrono::milliseconds DownloadCommand::backoff(int attempt) {
  thread_local std::mt19937 random{std::random_device{}()};
  const int64_t base = std::min<int64_t>(5000, 200LL << std::min(attempt - 1, 10));
  std::uniform_real_distribution<double> jitter(0.5, 1.5);
  return std::chrono::milliseconds(
      static_cast<int64_t>(static_cast<double>(base) * jitter(random)));
}

void DownloadCommand::run() {
  // Unsigned: the span of the whole 64-bit range must not overflow.
  const uint64_t span =
      static_cast<uint64_t>(c_.options.endTime) - static_cast<uint64_t>(c_.options.beginTime);
  const uint64_t days = span / static_cast<uint64_t>(PartitionPlan::kDayNs) + 2;
  if (days * c_.options.args.size() > kMaxPartitions) {
    c_.outcome.error("download: more than " + std::to_string(kMaxPartitions) + " partitions");
    return;
  }
  plan_ = PartitionPlan::build(c_.options);
  const auto start = std::chrono::steady_clock::now();
  std::atomic<size_t> running{0};
  std::vector<std::thread> threads;
  const size_t jobs = std::min<size_t>(static_cast<size_t>(c_.options.jobs), plan_.size());
  running = jobs;
  for (size_t i = 0; i < jobs; ++i) {
    threads.emplace_back([this, &running] {
      work();
      --running;
    });
  }
  while (running > 0) {
    std::this_thread::sleep_for(kRedrawInterval);
    drawProgress(secondsSince(start));
  }
  for (std::thread& t : threads) t.join();
  drawProgress(secondsSince(start));
  c_.progress.finish();
  summarise(secondsSince(start));
}

void DownloadCommand::work() {
  for (size_t i = next_++; i < plan_.size(); i = next_++) {
    if (refused_ || readCancelFlag(c_.interrupt.flag())) return;
    runPartition(plan_[i]);
    ++done_;
  }
}

void DownloadCommand::runPartition(const Partition& partition) {
  const PartitionFile file(c_.options.outDir, partition, c_.options.gzip);
  if (file.isComplete()) {
    ++skipped_;
    return;
  }
  PartitionFetcher fetcher(c_.api, c_.interrupt.flag());
  const int32_t requestId = static_cast<int32_t>(std::min<size_t>(partition.index + 1, INT32_MAX));
  int stalled = 0;  // failed attempts in a row that brought nothing to keep
  for (int attempt = 0;; ++attempt) {
    if (attempt > 0) {
      ++retries_;
      if (!pause(backoff(std::max(stalled, 1)))) return;
    }
    const PartitionFetcher::Result result = fetcher.fetch(partition, requestId);
    // Cancelled part-way: what arrived is short, and nothing is written.
    if (readCancelFlag(c_.interrupt.flag())) return;
    if (result.status.ok()) {
      const std::string error = file.writeComplete(result.records, result.stats);
      if (!error.empty()) {
        ++failed_;
        c_.outcome.error("download " + partition.name() + ": " + error);
        return;
      }
      ++complete_;
      records_ += result.records.size();
      repaired_ += result.stats.repaired;
      duplicates_ += result.stats.duplicates;
      dropped_ += result.stats.dropped;
      unrecovered_ += result.stats.unrecovered;
      requests_ += result.stats.requests;
      repairRequests_ += result.stats.repairRequests;
      return;
    }
    if (isRefused(result.status)) {
      // The credentials are wrong for every partition: stop them all.
      refused_ = true;
      c_.interrupt.cancel();
      c_.outcome.failed("download " + partition.name(), result.status);
      return;
    }
    // An attempt that got further does not count against --retries.
    stalled = fetcher.progressed() ? 0 : stalled + 1;
    if (!isRetryable(result.status) || c_.options.retries == 0 || stalled > c_.options.retries) {
      file.writeFailed(describeStatus(result.status));
      ++failed_;
      c_.outcome.failed("download " + partition.name(), result.status);
      return;
    }
  }
}

// A 4xx answer will not pass however often it is asked.
bool DownloadCommand::isRetryable(const ResultStatus& status) {
  return !isRefused(status) && status.code != INVALID_PARAM &&
         status.msg.find("HTTP 4") == std::string::npos;
}

bool DownloadCommand::pause(std::chrono::milliseconds duration) const {
  const auto until = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < until) {
    if (refused_ || readCancelFlag(c_.interrupt.flag())) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void DownloadCommand::drawProgress(double seconds) {
  if (!c_.progress.enabled()) return;
  const size_t done = done_;
  const size_t fetched = done - skipped_;
  const uint64_t rate =
      seconds > 0 ? static_cast<uint64_t>(static_cast<double>(records_) / seconds) : 0;
  std::string text = "partitions " + std::to_string(done) + "/" + std::to_string(plan_.size()) +
                     " | " + groupDigits(records_) + " records | " + groupDigits(rate) + " rec/s";
  if (fetched > 0 && done < plan_.size()) {
    const double eta =
        seconds / static_cast<double>(fetched) * static_cast<double>(plan_.size() - done);
    text += " | ETA " + secondsText(eta, 0);
  }
  c_.progress.drawText(text);
}

void DownloadCommand::summarise(double seconds) {
  const size_t failed = failed_;
  const size_t notRun = plan_.size() - complete_ - skipped_ - failed;
  std::string line = "download: " + std::to_string(plan_.size()) +
                     " partitions: " + std::to_string(complete_) + " complete, " +
                     std::to_string(skipped_) + " already done, " + std::to_string(failed) +
                     " failed";
  if (notRun > 0) line += ", " + std::to_string(notRun) + " not done";
  line += "; " + groupDigits(records_) + " records in " + secondsText(seconds, 2);
  line += "; tie repair: " + groupDigits(repairRequests_) + " of " + groupDigits(requests_) +
          " requests, " + groupDigits(repaired_) + " records recovered";
  if (retries_ > 0) line += "; " + std::to_string(retries_.load()) + " retries";
  c_.io.err << line << std::endl;
  // Removed records are in the sidecars; say so here, where they are read.
  if (duplicates_ > 0) {
    c_.outcome.warn("duplicate records written once: " + groupDigits(duplicates_) +
                    " (\"duplicates\" in the sidecars)");
  }
  if (dropped_ > 0) {
    c_.outcome.warn("records outside the partitions' days left out: " + groupDigits(dropped_) +
                    " (\"dropped\" in the sidecars)");
  }
  if (unrecovered_ > 0) {
    c_.outcome.incomplete(std::to_string(unrecovered_) +
                          " times hold more records than one step brings; some are missing "
                          "(\"unrecovered\" in the sidecars)");
  }
  if (readCancelFlag(c_.interrupt.flag()) && !refused_) {
    c_.io.err << "orvex_cli: download stopped; run the same command again to resume" << std::endl;
  }
}

}  // namespace cli
}  // namespace orvex
