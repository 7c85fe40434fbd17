// Result code names, the stored Chinese messages and the text forms of the records.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "orvex/CodeConvert.h"
#include "orvex/Messages.h"
#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {
namespace {

template <typename T>
std::string streamed(const T& value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

TEST(CodeNameTest, EndsOfTheTableAndBeyond) {
  const std::pair<int32_t, const char*> cases[] = {
      {-31, "EN_MIN"}, {55, "TO_PAY"},    {0, "OK"},        {56, "OK"},
      {-32, "OK"},     {INT32_MIN, "OK"}, {INT32_MAX, "OK"}};
  for (const auto& [code, name] : cases) EXPECT_STREQ(name, codeName(code)) << code;
  std::set<std::string> names;
  for (int32_t code = -31; code <= 55; ++code) names.insert(codeName(code));
  EXPECT_EQ(87u, names.size()) << "every code has its own name";
}

TEST(TextFormTest, RecordsAndFlags) {
  EXPECT_EQ("TIMEOUT@t", streamed(ResultStatus(TIMEOUT, "t")));
  const std::string all =
      "OnlyLocal|SuperAuthority|Quote|OnlyServer|ChartReq|TradeSim|HighPrio|NormalCode|"
      "BuildUserIndex|ProductWrite|KvPYWrite|AutoWriteName|AutoWriteRelation|DownLoadRelation|"
      "DeleteName|ByModifyTime|OnlyNight|OnlyDay|Snapshot|IgnoreLastReqTime|UserReq";
  EXPECT_EQ(all, flagsToString(0x1FFFFF));
  EXPECT_EQ(all, flagsToString(0xFFFFFFFFu)) << "unnamed bits are dropped";

  const std::pair<TopicReq, std::string> requests[] = {
      {{"k", {"a", "b"}, 1, 2, 100, 0x8000},
       "key=k,targetSize=2,firstTarget=a,beginTime=1,endTime=2,maxCount=100,flags=ByModifyTime"},
      {{"k", {"t"}, -1, INT64_MIN, -7, 0},
       "key=k,targetSize=1,firstTarget=t,beginTime=-1,endTime=-9223372036854775808,maxCount=-7,"
       "flags="}};
  for (const auto& [req, text] : requests) EXPECT_EQ(text, streamed(req));
  EXPECT_EQ("page=-1,isLast=0,relationMtm=-20,nameMaxMtm=1700000000000000000",
            streamed(PageResponse{-1, false, -20, 1700000000000000000}));
}

// The stored texts are exactly the GBK bytes of the intended texts (the converter is checked
// against known GBK bytes on its own).
TEST(MessagesTest, EveryTextIsItsGbkForm) {
  const std::pair<const char*, std::string> cases[] = {
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
  for (const auto& [gbk, utf8] : cases) EXPECT_EQ(utf8, CodeConvert::gbk_to_utf8(gbk));
}

}  // namespace
}  // namespace orvex
