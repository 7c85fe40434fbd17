// How a command ended, as a script sees it: the exit status, and one English line on standard
// error per failure or warning ("orvex_cli: ...").
//
// Thread-safe: request threads and the main thread may report at once.
#pragma once

#include <mutex>
#include <ostream>
#include <string>

#include "orvex/Records.h"

namespace orvex {
namespace cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,     // failed: nothing useful was printed, or the output could not be written
  kExitUsage = 2,       // bad arguments or configuration
  kExitIncomplete = 3,  // records were printed but the result is known to be short
  kExitRefused = 4,     // the service refused the credentials (HTTP 401 or 403)
  kExitInterrupted = 130,
};

// "EN_ICE_NET_ERROR: <message in UTF-8>".
std::string describeStatus(const ResultStatus& status);

// True when the service refused the request's credentials. The plug-in reports an HTTP 401 or
// 403 as EN_ICE_NET_ERROR, so the status text is read too.
bool isRefused(const ResultStatus& status);

class Outcome {
 public:
  explicit Outcome(std::ostream& err) : err_(err) {}

  Outcome(const Outcome&) = delete;
  Outcome& operator=(const Outcome&) = delete;

  // A call failed: "orvex_cli: <what>: <CODE>: <message>". Status 4 when refused, otherwise 3
  // when records were printed before (see finish()), 1 when none were.
  void failed(const std::string& what, const ResultStatus& status);
  // Something other than a call failed (the output, the plug-in): status 1.
  void error(const std::string& text);
  // The records printed are known to be fewer than asked for: a warning line and status 3.
  void incomplete(const std::string& why);
  // A warning line; the status stays.
  void warn(const std::string& text);
  void interrupted();

  // The exit status; `recordsPrinted` tells a failure part-way (3) from one that printed
  // nothing (1).
  int exitCode(bool recordsPrinted) const;

 private:
  void line(const std::string& text);

  std::ostream& err_;
  mutable std::mutex mutex_;
  bool failedCall_ = false;
  bool error_ = false;
  bool incomplete_ = false;
  bool refused_ = false;
  bool interrupted_ = false;
};

}  // namespace cli
}  // namespace orvex
