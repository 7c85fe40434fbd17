// The download command: a large history fetched as partitions (key, target, UTC day) into
// DIR/KEY/TARGET/YYYY-MM-DD.csv.gz with a sidecar each, on --jobs threads that share one
// history object; resumable, retried, and stopped at once when the service refuses the
// credentials.
//
// Runs on the command's thread; the object lives for one run.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "CliApp.h"
#include "PartitionFetcher.h"
#include "PartitionPlan.h"

namespace orvex {
namespace cli {

class DownloadCommand {
 public:
  explicit DownloadCommand(CommandContext& context) : c_(context) {}

  // Downloads every partition not yet complete and reports the outcome to the context.
  void run();

  // The pause before retry `attempt` (1, 2, ...): 200 ms doubling up to 5 s, times a random
  // factor in [0.5, 1.5).
  static std::chrono::milliseconds backoff(int attempt);
  // Whether another attempt may pass: time-outs, connection failures, unreadable and 5xx answers.
  static bool isRetryable(const ResultStatus& status);

 private:
  void work();
  void runPartition(const Partition& partition);
  bool pause(std::chrono::milliseconds duration) const;
  void drawProgress(double seconds);
  void summarise(double seconds);

  CommandContext& c_;
  std::vector<Partition> plan_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> refused_{false};
  std::atomic<size_t> done_{0};
  std::atomic<size_t> complete_{0};
  std::atomic<size_t> skipped_{0};
  std::atomic<uint64_t> records_{0};
  std::atomic<uint64_t> repaired_{0};
  std::atomic<uint64_t> unrecovered_{0};
  std::atomic<uint64_t> duplicates_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> requests_{0};
  std::atomic<uint64_t> repairRequests_{0};
  std::atomic<uint64_t> retries_{0};
  std::atomic<size_t> failed_{0};
};

}  // namespace cli
}  // namespace orvex
