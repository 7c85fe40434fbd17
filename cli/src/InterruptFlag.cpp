#include "InterruptFlag.h"

#include <atomic>

#include "orvex/IHistoryApi.h"

namespace orvex {
namespace cli {
namespace {

// Lock-free atomics, so the handler touches nothing that is not async-signal-safe.
std::atomic<bool*> gFlag{nullptr};
std::atomic<int> gCount{0};
static_assert(std::atomic<bool*>::is_always_lock_free, "the handler needs a lock-free pointer");
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free counter");

void onInterrupt(int) {
  if (gCount.fetch_add(1) > 0) return;
  bool* flag = gFlag.load();
  if (flag != nullptr) setCancelFlag(*flag, true);
}

}  // namespace

InterruptFlag::InterruptFlag() {
  gCount.store(0);
  gFlag.store(&flag_);
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // Restart interrupted system calls: the request's network calls must not fail because of it.
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &previous_);
}

InterruptFlag::~InterruptFlag() {
  ::sigaction(SIGINT, &previous_, nullptr);
  gFlag.store(nullptr);
}

void InterruptFlag::cancel() { setCancelFlag(flag_, true); }

int InterruptFlag::count() const { return gCount.load(); }

}  // namespace cli
}  // namespace orvex
