// The fetch command: asynchronous requests through IHistoryApi::reqData, each delivered batch
// printed at once, a progress line while it runs, and Ctrl-C as the requests' cancel flag.
//
// Without --by-mtime every target is a request of its own (the range path takes one target);
// up to --threads of them run at once on their own threads. With --by-mtime one request pages
// through all targets. Runs on the command's thread; the object lives for one run.
#pragma once

#include <vector>

#include "CliApp.h"

namespace orvex {
namespace cli {

class FetchCommand {
 public:
  explicit FetchCommand(CommandContext& context) : c_(context) {}

  // Runs every request to its end and waits until every batch has been printed (by releasing
  // the object's worker pools). Failures and shortfalls go to the context's Outcome.
  void run();

  // The requests of `options`, request number i + 1 for entry i.
  static std::vector<TopicReq> buildRequests(const CliOptions& options);

  // The steps reqData makes at most per request, of at most 1000 records each.
  static constexpr int64_t kMaxSteps = 32767;

 private:
  void report(const std::vector<TopicReq>& requests, const std::vector<ResultStatus>& results,
              uint64_t lastBatches, double seconds);

  CommandContext& c_;
};

}  // namespace cli
}  // namespace orvex
