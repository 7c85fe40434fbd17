// Result code names and the text forms of the records.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {
namespace {

TEST(CodeNameTest, EndsOfTheTableAndBeyond) {
  EXPECT_STREQ("EN_MIN", codeName(-31));
  EXPECT_STREQ("TO_PAY", codeName(55));
  EXPECT_STREQ("OK", codeName(0));
  EXPECT_STREQ("OK", codeName(56));
  EXPECT_STREQ("OK", codeName(-32));
  EXPECT_STREQ("OK", codeName(INT32_MIN));
  EXPECT_STREQ("OK", codeName(INT32_MAX));
}

TEST(CodeNameTest, EveryCodeHasItsOwnName) {
  std::set<std::string> names;
  for (int32_t code = -31; code <= 55; ++code) {
    const char* name = codeName(code);
    ASSERT_NE(nullptr, name);
    EXPECT_FALSE(std::string(name).empty()) << code;
    names.insert(name);
  }
  EXPECT_EQ(87u, names.size());
}

TEST(ResultStatusTextTest, NameSeparatorMessage) {
  EXPECT_EQ("INVALID_PARAM@x", ResultStatus(-2, "x").toString());
  EXPECT_EQ("OK@", ResultStatus().toString());
  EXPECT_EQ("OK@late", ResultStatus(1000, "late").toString());

  std::ostringstream os;
  os << ResultStatus(TIMEOUT, "t");
  EXPECT_EQ("TIMEOUT@t", os.str());
}

TEST(FlagsTextTest, NamedBitsInAscendingOrder) {
  EXPECT_EQ("", flagsToString(0));
  EXPECT_EQ("OnlyLocal|Quote", flagsToString(5));
  EXPECT_EQ("OnlyLocal|ByModifyTime", flagsToString(OnlyLocal | ByModifyTime));
  EXPECT_EQ("UserReq", flagsToString(UserReq));
}

TEST(FlagsTextTest, UnnamedBitsAreDropped) {
  EXPECT_EQ("", flagsToString(0x200000));
  EXPECT_EQ("Quote", flagsToString(0x80000000u | Quote));
}

TEST(FlagsTextTest, AllTwentyOneBits) {
  EXPECT_EQ(
      "OnlyLocal|SuperAuthority|Quote|OnlyServer|ChartReq|TradeSim|HighPrio|NormalCode|"
      "BuildUserIndex|ProductWrite|KvPYWrite|AutoWriteName|AutoWriteRelation|DownLoadRelation|"
      "DeleteName|ByModifyTime|OnlyNight|OnlyDay|Snapshot|IgnoreLastReqTime|UserReq",
      flagsToString(0x1FFFFF));
  // Every bit, named or not.
  EXPECT_EQ(flagsToString(0x1FFFFF), flagsToString(0xFFFFFFFFu));
}

TEST(TopicReqTextTest, WithTargets) {
  TopicReq req;
  req.key = "k";
  req.targets = {"a", "b"};
  req.beginTime = 1;
  req.endTime = 2;
  req.maxCount = 100;
  req.flags = 0x8000;
  EXPECT_EQ(
      "key=k,targetSize=2,firstTarget=a,beginTime=1,endTime=2,maxCount=100,flags=ByModifyTime",
      req.toString());
}

TEST(TopicReqTextTest, NoTargetMeansNoFirstTarget) {
  TopicReq req;
  req.key = "k";
  EXPECT_EQ("key=k,targetSize=0,beginTime=0,endTime=0,maxCount=0,flags=", req.toString());
}

TEST(TopicReqTextTest, NegativeAndExtremeNumbers) {
  TopicReq req;
  req.key = "k";
  req.targets = {"t"};
  req.beginTime = -1;
  req.endTime = INT64_MIN;
  req.maxCount = -7;
  EXPECT_EQ(
      "key=k,targetSize=1,firstTarget=t,beginTime=-1,endTime=-9223372036854775808,"
      "maxCount=-7,flags=",
      req.toString());

  std::ostringstream os;
  os << req;
  EXPECT_EQ(req.toString(), os.str());
}

TEST(PageResponseTextTest, Layout) {
  PageResponse rsp;
  rsp.page = 3;
  rsp.isLast = true;
  EXPECT_EQ("page=3,isLast=1,relationMtm=0,nameMaxMtm=0", rsp.toString());

  rsp.page = -1;
  rsp.isLast = false;
  rsp.relationMtm = -20;
  rsp.nameMaxMtm = 1700000000000000000;
  std::ostringstream os;
  os << rsp;
  EXPECT_EQ("page=-1,isLast=0,relationMtm=-20,nameMaxMtm=1700000000000000000", os.str());
}

}  // namespace
}  // namespace orvex
