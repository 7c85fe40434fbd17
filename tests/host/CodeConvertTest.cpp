// UTF-8 <-> GBK, checked against the known GBK bytes of Chinese texts.
#include <gtest/gtest.h>

#include <string>

#include "orvex/CodeConvert.h"

namespace orvex {
namespace {

TEST(CodeConvertTest, ChineseTextRoundTrips) {
  const std::string utf8 = u8"获取历史数据失败,url=";
  const std::string gbk = "\xbb\xf1\xc8\xa1\xc0\xfa\xca\xb7\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
  EXPECT_EQ(gbk, CodeConvert::utf8_to_gbk(utf8));
  EXPECT_EQ(utf8, CodeConvert::gbk_to_utf8(gbk));
  EXPECT_EQ("", CodeConvert::utf8_to_gbk(""));
}

TEST(CodeConvertTest, UnconvertibleCharactersBecomeQuestionMarks) {
  // An emoji has no GBK form; an invalid UTF-8 byte has no meaning. Neither throws.
  EXPECT_EQ("a?b", CodeConvert::utf8_to_gbk(u8"a\U0001F600b"));
  EXPECT_EQ("a?b", CodeConvert::utf8_to_gbk("a\xff"
                                            "b"));
  // A GBK lead byte without its trail byte.
  EXPECT_EQ("x?", CodeConvert::gbk_to_utf8("x\xd6"));
}

}  // namespace
}  // namespace orvex
