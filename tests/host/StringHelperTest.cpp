// Text helpers and digests, the digests checked against published vectors.
#include <gtest/gtest.h>

#include <string>

#include "orvex/Md5Utils.h"
#include "orvex/StringHelper.h"

namespace orvex {
namespace {

TEST(StringHelperTest, ToIntReadsWholeDecimalsAndGivesZeroOtherwise) {
  EXPECT_EQ(42, StringHelper::ToInt("42"));
  EXPECT_EQ(-7, StringHelper::ToInt(" -7 "));
  EXPECT_EQ(8, StringHelper::ToInt("+8"));
  EXPECT_EQ(2147483647, StringHelper::ToInt("2147483647"));
  EXPECT_EQ(-2147483647 - 1, StringHelper::ToInt("-2147483648"));
  for (const char* bad :
       {"", "   ", "abc", "12abc", "1.5", "2147483648", "+-1", "+", "-", "0x10"}) {
    EXPECT_EQ(0, StringHelper::ToInt(bad)) << bad;
  }
}

TEST(StringHelperTest, ToInt64CoversTheFullRange) {
  EXPECT_EQ(INT64_MAX, StringHelper::ToInt64("9223372036854775807"));
  EXPECT_EQ(INT64_MIN, StringHelper::ToInt64("-9223372036854775808"));
  EXPECT_EQ(1700000000000, StringHelper::ToInt64("\t1700000000000\r\n"));
  EXPECT_EQ(0, StringHelper::ToInt64("9223372036854775808"));
  EXPECT_EQ(0, StringHelper::ToInt64("1 2"));
}

TEST(StringHelperTest, ToBoolAcceptsTrueAndNonZeroIntegers) {
  for (const char* yes : {"true", "TRUE", "True", " true ", "1", "-3", "0010"}) {
    EXPECT_TRUE(StringHelper::ToBool(yes)) << yes;
  }
  for (const char* no : {"", "false", "0", "-0", "yes", "truex", "t", "1.0"}) {
    EXPECT_FALSE(StringHelper::ToBool(no)) << no;
  }
}

TEST(StringHelperTest, ToLowerCaseTouchesOnlyAsciiLetters) {
  EXPECT_EQ("content-md5 x-ab_1", StringHelper::ToLowerCase("Content-MD5 X-Ab_1"));
  std::string gbk = "\xd6\xd0\xce\xc4Z";  // GBK bytes pass through unchanged
  EXPECT_EQ("\xd6\xd0\xce\xc4z", StringHelper::ToLowerCase(gbk));
}

TEST(StringHelperTest, ToCsvStringHasNoTrailingSeparator) {
  EXPECT_EQ("", StringHelper::ToCsvString({}, ','));
  EXPECT_EQ("a", StringHelper::ToCsvString({"a"}, ','));
  EXPECT_EQ("a\n\nc", StringHelper::ToCsvString({"a", "", "c"}, '\n'));
}

TEST(StringHelperTest, Md5MatchesRfc1321) {
  EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", StringHelper::md5(""));
  EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", StringHelper::md5("abc"));
  EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", StringHelper::md5("message digest"));
}

TEST(StringHelperTest, Sha256IsHmacSha256MatchingRfc4231) {
  // Test cases 1, 2, 3 and 6 of RFC 4231: short key, text key, binary data, key longer than a
  // block.
  EXPECT_EQ("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
            StringHelper::sha256("Hi There", std::string(20, '\x0b')));
  EXPECT_EQ("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
            StringHelper::sha256("what do ya want for nothing?", "Jefe"));
  EXPECT_EQ("773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
            StringHelper::sha256(std::string(50, '\xdd'), std::string(20, '\xaa')));
  EXPECT_EQ("60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
            StringHelper::sha256("Test Using Larger Than Block-Size Key - Hash Key First",
                                 std::string(131, '\xaa')));
}

TEST(Md5UtilsTest, HashIsTheDigestsFirstEightBytesBigEndian) {
  // md5("abc") begins 90 01 50 98 3c d2 4f b0: a negative signed value.
  EXPECT_EQ(static_cast<int64_t>(0x900150983cd24fb0ULL), Md5Utils::hash("abc"));
  EXPECT_EQ(static_cast<int64_t>(0xd41d8cd98f00b204ULL), Md5Utils::hash(""));
  EXPECT_NE(Md5Utils::hash("a@k"), Md5Utils::hash("b@k"));
}

}  // namespace
}  // namespace orvex
