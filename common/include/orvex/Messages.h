// Every Chinese text the system writes, stored once as GBK bytes.
//
// Constant data; safe from any thread.
#pragma once

namespace orvex {
namespace msg {

extern const char* const kOnlyOneTarget;    // 参数错误,仅支持1个标的
extern const char* const kNoSession;        // 网络对象不存在
extern const char* const kNoSessionLog;     // HqHistoryApi, 网络对象不存在
extern const char* const kLastDataFailed;   // 获取最新一条数据失败,url=
extern const char* const kParseFailed;      // 解析失败
extern const char* const kNoDataParsed;     // 未解析到数据
extern const char* const kHistoryFailed;    // 获取历史数据失败,url=
extern const char* const kPageParseFailed;  // getDataByPage 解析失败
extern const char* const kPageFailed;       // 获取分页历史数据失败,url=
extern const char* const kJsonLogPrefix;    // getServerName:解析json失败,rsp=
extern const char* const kJsonParseFailed;  // json解析失败
extern const char* const kRangeTitle;       // reqDataByRange from【history api】,requestId=

}  // namespace msg
}  // namespace orvex
