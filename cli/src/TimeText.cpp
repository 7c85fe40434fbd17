#include "TimeText.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace orvex {
namespace cli {
namespace {

constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y = yoe + era * 400 + (m <= 2);
}

bool isLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int64_t y, int64_t m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

// A cursor over the text that reads fixed-width digit groups and single characters.
class Scanner {
 public:
  explicit Scanner(const std::string& text) : text_(text) {}

  bool digits(int count, int64_t& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
      if (atEnd() || !std::isdigit(static_cast<unsigned char>(text_[pos_]))) return false;
      value = value * 10 + (text_[pos_++] - '0');
    }
    return true;
  }
  bool accept(char c) {
    if (atEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool acceptAny(const char* set) {
    if (atEnd()) return false;
    for (const char* p = set; *p; ++p) {
      if (text_[pos_] == *p) return accept(*p);
    }
    return false;
  }
  // Up to nine fraction digits as nanoseconds; extra digits must be there but are dropped.
  bool fraction(int64_t& ns) {
    ns = 0;
    int n = 0;
    while (!atEnd() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      if (n < 9) ns = ns * 10 + (text_[pos_] - '0');
      ++n;
      ++pos_;
    }
    for (int i = n; i < 9; ++i) ns *= 10;
    return n > 0;
  }
  bool atEnd() const { return pos_ >= text_.size(); }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

bool parseNanoseconds(const std::string& text, int64_t& ns) {
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  for (size_t j = i; j < text.size(); ++j) {
    if (!std::isdigit(static_cast<unsigned char>(text[j]))) return false;
  }
  try {
    size_t used = 0;
    const long long value = std::stoll(text, &used);
    if (used != text.size()) return false;
    ns = value;
    return true;
  } catch (const std::exception&) {
    return false;  // out of range
  }
}

// Offset in seconds east of UTC: "Z", "+08:00", "-0530", or nothing (UTC).
bool parseOffset(Scanner& s, int64_t& offsetSeconds) {
  offsetSeconds = 0;
  if (s.atEnd() || s.acceptAny("Zz")) return s.atEnd();
  const bool negative = s.accept('-');
  if (!negative && !s.accept('+')) return false;
  int64_t hh = 0, mm = 0;
  if (!s.digits(2, hh)) return false;
  s.accept(':');
  if (!s.digits(2, mm) || hh > 23 || mm > 59 || !s.atEnd()) return false;
  offsetSeconds = (negative ? -1 : 1) * (hh * 3600 + mm * 60);
  return true;
}

bool parseIso(const std::string& text, int64_t& ns) {
  Scanner s(text);
  int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, frac = 0, offset = 0;
  if (!s.digits(4, y) || !s.accept('-') || !s.digits(2, mo) || !s.accept('-') || !s.digits(2, d)) {
    return false;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo)) return false;
  if (s.acceptAny("Tt ")) {
    if (!s.digits(2, h) || !s.accept(':') || !s.digits(2, mi)) return false;
    if (s.accept(':')) {
      if (!s.digits(2, sec)) return false;
      if (s.acceptAny(".,") && !s.fraction(frac)) return false;
    }
    if (h > 23 || mi > 59 || sec > 59) return false;
    if (!parseOffset(s, offset)) return false;
  } else if (!s.atEnd()) {
    return false;
  }
  // Years 0000-9999 keep the result well inside the 64-bit nanosecond range (about 1677-2262
  // is representable), so check the seconds before scaling.
  const int64_t seconds =
      daysFromCivil(y, mo, d) * kSecondsPerDay + h * 3600 + mi * 60 + sec - offset;
  const int64_t limit = std::numeric_limits<int64_t>::max() / kNsPerSecond - 1;
  if (seconds > limit || seconds < -limit) return false;
  ns = seconds * kNsPerSecond + frac;
  return true;
}

}  // namespace

bool parseTime(const std::string& text, int64_t& ns) {
  if (text.empty()) return false;
  if (text.size() >= 5 && text[4] == '-') return parseIso(text, ns);
  return parseNanoseconds(text, ns);
}

std::string formatUtc(int64_t ns) {
  int64_t seconds = ns / kNsPerSecond;
  int64_t frac = ns % kNsPerSecond;
  if (frac < 0) {
    frac += kNsPerSecond;
    --seconds;
  }
  int64_t days = seconds / kSecondsPerDay;
  int64_t rem = seconds % kSecondsPerDay;
  if (rem < 0) {
    rem += kSecondsPerDay;
    --days;
  }
  int64_t y = 0, m = 0, d = 0;
  civilFromDays(days, y, m, d);
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                        static_cast<long long>(y), static_cast<long long>(m),
                        static_cast<long long>(d), static_cast<long long>(rem / 3600),
                        static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60));
  if (frac % 1000000 == 0) {
    std::snprintf(buf + n, sizeof buf - n, ".%03lld", static_cast<long long>(frac / 1000000));
  } else if (frac % 1000 == 0) {
    std::snprintf(buf + n, sizeof buf - n, ".%06lld", static_cast<long long>(frac / 1000));
  } else {
    std::snprintf(buf + n, sizeof buf - n, ".%09lld", static_cast<long long>(frac));
  }
  return buf;
}

std::string formatIso(int64_t ns) {
  std::string text = formatUtc(ns);
  text[10] = 'T';
  return text + "Z";
}

}  // namespace cli
}  // namespace orvex
