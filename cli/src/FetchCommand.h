// The fetch command: asynchronous requests through IHistoryApi::reqData, each delivered batch
// printed at once, a progress line while it runs, and Ctrl-C as the requests' cancel flag.
//
// Without --by-mtime every target is a request of its own (the range path takes one target);
// up to --threads of them run at once on their own threads. With --by-mtime one request pages
// through all targets. Run on the main thread: it installs the SIGINT handler.
#pragma once

#include <vector>

#include "CliApp.h"
#include "CommandLine.h"
#include "orvex/IHistoryApi.h"

namespace orvex {
namespace cli {

class FetchCommand {
 public:
  FetchCommand(IHistoryApi& api, const CliOptions& options, CliStreams io)
      : api_(api), options_(options), io_(io) {}

  // Runs every request to its end, waits until every batch has been printed (by releasing the
  // object's worker pools) and returns the exit code.
  int run();

  // The requests of `options`, request number i + 1 for entry i.
  static std::vector<TopicReq> buildRequests(const CliOptions& options);

 private:
  bool progressEnabled() const;
  int report(const std::vector<TopicReq>& requests, const std::vector<ResultStatus>& results,
             bool interrupted, uint64_t records, uint64_t batches, double seconds);

  IHistoryApi& api_;
  const CliOptions& options_;
  CliStreams io_;
};

}  // namespace cli
}  // namespace orvex
