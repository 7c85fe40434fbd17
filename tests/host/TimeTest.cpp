// Date texts: the HTTP date, the Timestamp texts in both zones, the log time-prefix switch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "orvex/TimeUtils.h"
#include "orvex/Timestamp.h"

namespace orvex {
namespace {

TEST(TimeUtilsTest, Rfc1123DateTime) {
  EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", TimeUtils::rfc1123DateTime(784111777000));
  EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", TimeUtils::rfc1123DateTime(784111777999));
  EXPECT_EQ("Thu, 01 Jan 1970 00:00:00 GMT", TimeUtils::rfc1123DateTime(0));
  EXPECT_EQ("Wed, 31 Dec 1969 23:59:59 GMT", TimeUtils::rfc1123DateTime(-1));
  EXPECT_EQ("Tue, 29 Feb 2028 12:00:00 GMT", TimeUtils::rfc1123DateTime(1835438400000));
}

TEST(TimestampTest, UtcTexts) {
  Timestamp stamp(784111777123, KvTimeZoneUtc);
  EXPECT_EQ(784111777123, stamp.toUtcMsEponch());
  EXPECT_EQ("1994-11-06T08:49:37.123", stamp.toLocalString('T'));
  EXPECT_EQ("1994-11-06 08:49:37.123", stamp.toDateTimeString());
  EXPECT_EQ("1969-12-31-23:59:59.999", Timestamp(-1, KvTimeZoneUtc).toLocalString('-'));
  EXPECT_EQ("1901-12-13 20:45:52.000", Timestamp(-2147483648000, KvTimeZoneUtc).toDateTimeString());
}

// Switches the process's time zone for one test and restores it.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (hadOld_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

TEST(TimestampTest, LocalZoneFollowsTheProcessZone) {
  ScopedTimeZone zone("CST-8");  // eight hours east of UTC, no daylight saving
  EXPECT_EQ("1994-11-06 16:49:37.123", Timestamp(784111777123, KvTimeZoneLocal).toLocalString(' '));
  EXPECT_EQ("1970-01-01 07:59:59.999", Timestamp(-1, KvTimeZoneLocal).toDateTimeString());
}

TEST(TimestampTest, TimePrefixIsOffUntilTurnedOn) {
  EXPECT_FALSE(isTimeEnabled());
  setTimeEnabled(true);
  EXPECT_TRUE(isTimeEnabled());
  setTimeEnabled(false);
  EXPECT_FALSE(isTimeEnabled());
}

}  // namespace
}  // namespace orvex
