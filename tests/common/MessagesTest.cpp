// The stored Chinese texts are exactly the GBK bytes of the intended texts.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "orvex/Messages.h"

namespace orvex {
namespace {

// Independent of the runtime's converter: glibc's iconv, strict (no substitution).
std::string gbkToUtf8(const std::string& gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<iconv_open failed>";
  std::string in = gbk;
  std::string out(in.size() * 3 + 1, '\0');
  char* inPtr = &in[0];
  char* outPtr = &out[0];
  size_t inLeft = in.size();
  size_t outLeft = out.size();
  size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return "<not GBK>";
  out.resize(out.size() - outLeft);
  return out;
}

TEST(MessagesTest, EveryTextIsItsGbkForm) {
  struct Case {
    const char* gbk;
    const char* utf8;
  };
  const Case cases[] = {
      {msg::kOnlyOneTarget, u8"参数错误,仅支持1个标的"},
      {msg::kNoSession, u8"网络对象不存在"},
      {msg::kNoSessionLog, u8"HqHistoryApi, 网络对象不存在"},
      {msg::kLastDataFailed, u8"获取最新一条数据失败,url="},
      {msg::kParseFailed, u8"解析失败"},
      {msg::kNoDataParsed, u8"未解析到数据"},
      {msg::kHistoryFailed, u8"获取历史数据失败,url="},
      {msg::kPageParseFailed, u8"getDataByPage 解析失败"},
      {msg::kPageFailed, u8"获取分页历史数据失败,url="},
      {msg::kJsonLogPrefix, u8"getServerName:解析json失败,rsp="},
      {msg::kJsonParseFailed, u8"json解析失败"},
      {msg::kRangeTitle, u8"reqDataByRange from【history api】,requestId="},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(c.utf8), gbkToUtf8(c.gbk));
    // A GBK text is never also its UTF-8 text: catches a literal left in UTF-8.
    EXPECT_NE(std::string(c.utf8), std::string(c.gbk));
  }
}

}  // namespace
}  // namespace orvex
