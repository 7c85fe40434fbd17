#include "ProgressLine.h"

#include <cstdio>

namespace orvex {
namespace cli {

std::string groupDigits(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, ",");
  return digits;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string secondsText(double seconds, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f s", decimals, seconds);
  return text;
}

std::string ProgressLine::format(uint64_t records, uint64_t batches, double elapsedSeconds) {
  const uint64_t rate =
      elapsedSeconds > 0 ? static_cast<uint64_t>(static_cast<double>(records) / elapsedSeconds) : 0;
  return groupDigits(records) + " records | " + groupDigits(batches) + " batches | " +
         groupDigits(rate) + " rec/s | " + secondsText(elapsedSeconds, 1);
}

void ProgressLine::draw(uint64_t records, uint64_t batches, double elapsedSeconds) {
  drawText(format(records, batches, elapsedSeconds));
}

void ProgressLine::drawText(const std::string& text) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  // Blanks over what is left of a longer previous line.
  const std::string pad(lastWidth_ > text.size() ? lastWidth_ - text.size() : 0, ' ');
  err_ << '\r' << text << pad << std::flush;
  lastWidth_ = text.size();
  drawn_ = true;
}

void ProgressLine::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!drawn_) return;
  err_ << '\r' << std::string(lastWidth_, ' ') << '\r' << std::flush;
  drawn_ = false;
  lastWidth_ = 0;
}

void ProgressLine::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) err_ << '\n' << std::flush;
  drawn_ = false;
  lastWidth_ = 0;
}

}  // namespace cli
}  // namespace orvex
