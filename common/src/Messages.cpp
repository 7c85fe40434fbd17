// The system's Chinese texts as GBK (code page 936) bytes. The UTF-8 form of each text is in the
// comment above it; a string break follows a hex escape wherever the next character is a hex digit.
#include "orvex/Messages.h"

namespace orvex {
namespace msg {

// 参数错误,仅支持1个标的
const char* const kOnlyOneTarget =
    "\xb2\xce\xca\xfd\xb4\xed\xce\xf3,\xbd\xf6\xd6\xa7\xb3\xd6"
    "1\xb8\xf6\xb1\xea\xb5\xc4";
// 网络对象不存在
const char* const kNoSession = "\xcd\xf8\xc2\xe7\xb6\xd4\xcf\xf3\xb2\xbb\xb4\xe6\xd4\xda";
// HqHistoryApi, 网络对象不存在
const char* const kNoSessionLog =
    "HqHistoryApi, \xcd\xf8\xc2\xe7\xb6\xd4\xcf\xf3\xb2\xbb\xb4\xe6\xd4\xda";
// 获取最新一条数据失败,url=
const char* const kLastDataFailed =
    "\xbb\xf1\xc8\xa1\xd7\xee\xd0\xc2\xd2\xbb\xcc\xf5\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
// 解析失败
const char* const kParseFailed = "\xbd\xe2\xce\xf6\xca\xa7\xb0\xdc";
// 未解析到数据
const char* const kNoDataParsed = "\xce\xb4\xbd\xe2\xce\xf6\xb5\xbd\xca\xfd\xbe\xdd";
// 获取历史数据失败,url=
const char* const kHistoryFailed =
    "\xbb\xf1\xc8\xa1\xc0\xfa\xca\xb7\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
// getDataByPage 解析失败
const char* const kPageParseFailed = "getDataByPage \xbd\xe2\xce\xf6\xca\xa7\xb0\xdc";
// 获取分页历史数据失败,url=
const char* const kPageFailed =
    "\xbb\xf1\xc8\xa1\xb7\xd6\xd2\xb3\xc0\xfa\xca\xb7\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
// getServerName:解析json失败,rsp=
const char* const kJsonLogPrefix = "getServerName:\xbd\xe2\xce\xf6json\xca\xa7\xb0\xdc,rsp=";
// json解析失败
const char* const kJsonParseFailed = "json\xbd\xe2\xce\xf6\xca\xa7\xb0\xdc";
// reqDataByRange from【history api】,requestId=
const char* const kRangeTitle = "reqDataByRange from\xa1\xbehistory api\xa1\xbf,requestId=";

}  // namespace msg
}  // namespace orvex
