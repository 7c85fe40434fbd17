// Ctrl-C as a request's cancel flag.
//
// While an InterruptFlag lives, the first SIGINT sets its flag (through orvex::setCancelFlag, the
// only work done in the handler besides counting) and a second one ends the process at once with
// status 130. One instance at a time per process; construct and destroy it on one thread.
#pragma once

#include <signal.h>

namespace orvex {
namespace cli {

class InterruptFlag {
 public:
  InterruptFlag();   // installs the handler
  ~InterruptFlag();  // restores the previous handler

  // The flag to pass to IHistoryApi::reqData; it stays valid while this object lives.
  bool& flag() { return flag_; }
  bool interrupted() const;

  InterruptFlag(const InterruptFlag&) = delete;
  InterruptFlag& operator=(const InterruptFlag&) = delete;

 private:
  bool flag_ = false;
  struct sigaction previous_ {};
};

}  // namespace cli
}  // namespace orvex
