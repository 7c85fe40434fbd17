// Access to the cancel flag of IHistoryApi::reqData, a plain bool owned by the host: the host sets
// it from one thread while the plug-in reads it on another, so both sides go through these two
// functions. Thread-safe.
#pragma once

#include <atomic>

namespace orvex {

namespace cancelflag {

// Where std::atomic<bool> is a lock-free bool in all but name, the flag is accessed as one;
// otherwise through the compiler's atomic intrinsics.
constexpr bool kAtomicView = sizeof(std::atomic<bool>) == sizeof(bool) &&
                             alignof(std::atomic<bool>) == alignof(bool) &&
                             std::atomic<bool>::is_always_lock_free;

// Templates, so that the intrinsic branch is only compiled where it is taken.
template <typename Flag>
bool load(const Flag& flag) {
  if constexpr (kAtomicView) {
    return reinterpret_cast<const std::atomic<Flag>&>(flag).load(std::memory_order_acquire);
  } else {
    return __atomic_load_n(&flag, __ATOMIC_ACQUIRE);
  }
}

template <typename Flag>
void store(Flag& flag, Flag value) {
  if constexpr (kAtomicView) {
    reinterpret_cast<std::atomic<Flag>&>(flag).store(value, std::memory_order_release);
  } else {
    __atomic_store_n(&flag, value, __ATOMIC_RELEASE);
  }
}

}  // namespace cancelflag

// The flag as last set by any thread.
inline bool readCancelFlag(const bool& cancel) { return cancelflag::load(cancel); }
inline void setCancelFlag(bool& cancel, bool value) { cancelflag::store(cancel, value); }

}  // namespace orvex
