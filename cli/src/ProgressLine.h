// The progress line of a fetch on standard error: records received, batches, rate and elapsed
// time, redrawn in place with a carriage return.
//
// Not thread-safe: one thread draws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>

namespace orvex {
namespace cli {

class ProgressLine {
 public:
  // Draws on `err` when `enabled`; otherwise every call does nothing.
  ProgressLine(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}

  void draw(uint64_t records, uint64_t batches, double elapsedSeconds);
  // Ends the line, so that later output starts on a fresh one.
  void finish();

  // "12,345 records | 13 batches | 8,230 rec/s | 1.5 s".
  static std::string format(uint64_t records, uint64_t batches, double elapsedSeconds);

 private:
  std::ostream& err_;
  const bool enabled_;
  size_t lastWidth_ = 0;
  bool drawn_ = false;
};

// 12345 -> "12,345".
std::string groupDigits(uint64_t value);

}  // namespace cli
}  // namespace orvex
