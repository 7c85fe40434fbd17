// Text helpers, digests against published vectors, GBK conversion and date texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "orvex/CodeConvert.h"
#include "orvex/Md5Utils.h"
#include "orvex/StringHelper.h"
#include "orvex/TimeUtils.h"
#include "orvex/Timestamp.h"

namespace orvex {
namespace {

TEST(StringHelperTest, NumbersAndFlagsReadWholeTextsOnly) {
  EXPECT_EQ(-7, StringHelper::ToInt(" -7 "));
  EXPECT_EQ(8, StringHelper::ToInt("+8"));
  EXPECT_EQ(-2147483647 - 1, StringHelper::ToInt("-2147483648"));
  EXPECT_EQ(INT64_MIN, StringHelper::ToInt64("-9223372036854775808"));
  EXPECT_EQ(1700000000000, StringHelper::ToInt64("\t1700000000000\r\n"));
  for (const char* bad : {"", "   ", "abc", "12abc", "1.5", "2147483648", "+-1", "-", "0x10"}) {
    EXPECT_EQ(0, StringHelper::ToInt(bad)) << bad;
  }
  for (const char* bad : {"", "x", "9223372036854775808", "1 2"}) {
    EXPECT_EQ(0, StringHelper::ToInt64(bad)) << bad;
  }
  for (const char* yes : {"true", "TRUE", " true ", "1", "-3", "0010"}) {
    EXPECT_TRUE(StringHelper::ToBool(yes)) << yes;
  }
  for (const char* no : {"", "false", "0", "-0", "yes", "truex", "1.0"}) {
    EXPECT_FALSE(StringHelper::ToBool(no)) << no;
  }
}

TEST(StringHelperTest, DigestsMatchPublishedVectors) {
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", StringHelper::md5("message digest"));  // RFC 1321
  // RFC 4231 cases 2 and 6 (a key longer than a block).
  EXPECT_EQ("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
            StringHelper::sha256("what do ya want for nothing?", "Jefe"));
  EXPECT_EQ("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
            StringHelper::sha256("Test Using Larger Than Block-Size Key - Hash Key First",
                                 std::string(131, '\xaa')));
  // The first eight bytes of md5("abc"), 90 01 50 98 3c d2 4f b0, big-endian: a negative value.
  EXPECT_EQ(static_cast<int64_t>(0x900150983cd24fb0ULL), Md5Utils::hash("abc"));
}

// Chinese text both ways against known bytes: the client's failure message and the command-line
// host's display of messages.
TEST(CodeConvertTest, UnconvertibleTextBecomesAQuestionMark) {
  // No GBK form, an invalid UTF-8 byte, a GBK lead byte without its trail byte: none throws.
  EXPECT_EQ("a?b", CodeConvert::utf8_to_gbk(u8"a\U0001F600b"));
  EXPECT_EQ("a?b", CodeConvert::utf8_to_gbk("a\xff"
                                            "b"));
  EXPECT_EQ("x?", CodeConvert::gbk_to_utf8("x\xd6"));
}

TEST(TimeTest, HttpDateAndTimestampTextsInUtcAndTheProcessZone) {
  EXPECT_EQ("Sun, 06 Nov 1994 08:49:37 GMT", TimeUtils::rfc1123DateTime(784111777999));
  EXPECT_EQ("Wed, 31 Dec 1969 23:59:59 GMT", TimeUtils::rfc1123DateTime(-1));
  EXPECT_EQ("Tue, 29 Feb 2028 12:00:00 GMT", TimeUtils::rfc1123DateTime(1835438400000));
  EXPECT_EQ("1994-11-06T08:49:37.123", Timestamp(784111777123, KvTimeZoneUtc).toLocalString('T'));
  EXPECT_EQ("1969-12-31 23:59:59.999", Timestamp(-1, KvTimeZoneUtc).toDateTimeString());

  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "CST-8", 1);  // eight hours east of UTC, no daylight saving
  tzset();
  EXPECT_EQ("1994-11-06 16:49:37.123", Timestamp(784111777123, KvTimeZoneLocal).toLocalString(' '));
  EXPECT_EQ("1970-01-01 07:59:59.999", Timestamp(-1, KvTimeZoneLocal).toDateTimeString());
  old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
}

}  // namespace
}  // namespace orvex
