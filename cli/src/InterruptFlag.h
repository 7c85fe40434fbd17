// Ctrl-C as the requests' cancel flag.
//
// While an InterruptFlag lives, SIGINT is counted and the first one sets its flag (through
// orvex::setCancelFlag, the only work done in the handler besides counting). The program watches
// count() and decides when to stop waiting (see Supervisor). One instance at a time per process;
// construct and destroy it on one thread.
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
  // Sets the flag from the program, for example when the output fails; not counted as a SIGINT.
  void cancel();
  // The SIGINTs received so far.
  int count() const;
  bool interrupted() const { return count() > 0; }

  InterruptFlag(const InterruptFlag&) = delete;
  InterruptFlag& operator=(const InterruptFlag&) = delete;

 private:
  bool flag_ = false;
  struct sigaction previous_ {};
};

}  // namespace cli
}  // namespace orvex
