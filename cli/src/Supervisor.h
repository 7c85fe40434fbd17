// Runs a command on a thread of its own while the calling thread watches Ctrl-C, so that the
// program ends promptly whatever the plug-in is doing (a stalled request, a long server pause).
//
// The first SIGINT sets the requests' cancel flag; the command normally ends after the service
// call in progress. When it has not ended kGrace later, or at the second SIGINT, the command is
// abandoned. Call from the main thread; one run at a time.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

#include "InterruptFlag.h"

namespace orvex {
namespace cli {

class Supervisor {
 public:
  static constexpr std::chrono::milliseconds kGrace{1500};

  // Runs `work` and returns its result, or nothing when it was abandoned: its thread is then
  // left running (detached) and the caller must end the process without tearing anything down.
  static std::optional<int> run(const InterruptFlag& interrupt, std::function<int()> work);
};

}  // namespace cli
}  // namespace orvex
