// The progress line of a fetch on standard error: records received, batches, rate and elapsed
// time, redrawn in place with a carriage return.
//
// Thread-safe: one thread draws while the threads that write records may clear the line first
// when both go to the same terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

namespace orvex {
namespace cli {

class ProgressLine {
 public:
  // Draws on `err` when `enabled`; otherwise every call does nothing.
  ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}

  bool enabled() const { return enabled_; }
  void draw(uint64_t records, uint64_t batches, double elapsedSeconds);
  // Draws `text` in place of the line.
  void drawText(const std::string& text);
  // Blanks the line and puts the cursor back at its start; the next draw() shows it again.
  void clear();
  // Ends the line, so that later output starts on a fresh one.
  void finish();

  // "12,345 records | 13 batches | 8,230 rec/s | 1.5 s".
  static std::string format(uint64_t records, uint64_t batches, double elapsedSeconds);

 private:
  std::mutex mutex_;
  std::ostream& err_;
  const bool enabled_;
  size_t lastWidth_ = 0;
  bool drawn_ = false;
};

// 12345 -> "12,345".
std::string groupDigits(uint64_t value);

// How often a command redraws its progress line.
constexpr std::chrono::milliseconds kRedrawInterval{100};
// Seconds from `start` to now.
double secondsSince(std::chrono::steady_clock::time_point start);
// 1.234 with 2 decimals -> "1.23 s".
std::string secondsText(double seconds, int decimals);

}  // namespace cli
}  // namespace orvex
