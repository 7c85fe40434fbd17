#include "Supervisor.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace orvex {
namespace cli {
namespace {

constexpr std::chrono::milliseconds kPoll{20};

// Shared with the work thread, which may outlive the call when it is abandoned.
struct WorkState {
  std::mutex mutex;
  std::condition_variable done;
  std::optional<int> result;
};

}  // namespace

std::optional<int> Supervisor::run(const InterruptFlag& interrupt, std::function<int()> work) {
  auto state = std::make_shared<WorkState>();
  std::thread thread([state, work = std::move(work)] {
    const int result = work();
    std::lock_guard<std::mutex> lock(state->mutex);
    state->result = result;
    state->done.notify_all();
  });
  std::optional<std::chrono::steady_clock::time_point> firstInterrupt;
  std::unique_lock<std::mutex> lock(state->mutex);
  while (!state->result) {
    state->done.wait_for(lock, kPoll);
    if (state->result) break;
    const int interrupts = interrupt.count();
    if (interrupts > 0 && !firstInterrupt) firstInterrupt = std::chrono::steady_clock::now();
    const bool graceOver =
        firstInterrupt && std::chrono::steady_clock::now() - *firstInterrupt >= kGrace;
    if (interrupts > 1 || graceOver) {
      lock.unlock();
      thread.detach();
      return std::nullopt;
    }
  }
  lock.unlock();
  thread.join();
  return state->result;
}

}  // namespace cli
}  // namespace orvex
