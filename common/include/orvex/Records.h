// The value records that pass between the host, the common runtime library and the plug-in:
// the history request and its flags, topic keys, the data records handed back, the paged
// request and answer, and time ranges. Field order and widths are shared with the host.
//
// All records are plain copyable values without synchronisation. All times are signed 64-bit
// nanoseconds since 1970 (UTC).
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "orvex/Export.h"
#include "orvex/ResultStatus.h"

namespace orvex {

// Request headers and response headers: names compared byte-wise, case-sensitive.
using HeaderMap = std::map<std::string, std::string>;

// Flag bits of TopicReq::flags. Only ByModifyTime changes what the plug-in does.
enum TopicReqFlag : uint32_t {
  None = 0,
  OnlyLocal = 0x1,
  SuperAuthority = 0x2,
  Quote = 0x4,
  OnlyServer = 0x8,
  ChartReq = 0x10,
  TradeSim = 0x20,
  HighPrio = 0x40,
  NormalCode = 0x80,
  BuildUserIndex = 0x100,
  ProductWrite = 0x200,
  KvPYWrite = 0x400,
  AutoWriteName = 0x800,
  AutoWriteRelation = 0x1000,
  DownLoadRelation = 0x2000,
  DeleteName = 0x4000,
  ByModifyTime = 0x8000,
  OnlyNight = 0x10000,
  OnlyDay = 0x20000,
  Snapshot = 0x40000,
  IgnoreLastReqTime = 0x80000,
  UserReq = 0x100000,
};

// Names of the set bits in ascending order joined by "|"; unnamed bits are dropped, 0 gives "".
ORVEX_RECORDS_API std::string flagsToString(uint32_t flags);

struct UtcTimePeriod {
  int64_t begin = 0;
  int64_t end = 0;
};

// One history request.
struct ORVEX_RECORDS_API TopicReq {
  std::string key;                   // topic key: which kind of data
  std::vector<std::string> targets;  // target codes, in the caller's order
  int64_t beginTime = 0;
  int64_t endTime = 0;
  int32_t maxCount = 0;
  uint32_t flags = 0;  // TopicReqFlag bits

  UtcTimePeriod getTimePeriod() const { return UtcTimePeriod{beginTime, endTime}; }

  // "key=k,targetSize=2,firstTarget=a,beginTime=1,endTime=2,maxCount=100,flags=ByModifyTime";
  // ",firstTarget=..." only when there is a target.
  std::string toString() const;
};

// The key of one topic.
struct TopicKey {
  std::string target;
  std::string key;
};

// One record of a topic. The plug-in reads only `time`; `value` and `data` are carried.
struct TopicBody {
  int64_t time = 0;
  double value = 0.0;
  std::string data;
};

// One topic's records, in ascending time order. Begins with the two TopicKey fields.
struct CloudTopic {
  std::string target;
  std::string key;
  std::vector<TopicBody> bodies;
};

// One request of the paged detail query.
struct PageReq {
  int32_t page = 0;
  int64_t dataMtm = 0;
  std::vector<std::string> targets;
  std::string type;
  int64_t beginTime = 0;
  int64_t endTime = 0;
  int64_t beginMtm = 0;
  int64_t endMtm = 0;
};

// The answer of one page.
struct ORVEX_RECORDS_API PageResponse {
  int32_t page = 0;
  bool isLast = false;
  int64_t relationMtm = 0;
  int64_t nameMaxMtm = 0;

  // "page=3,isLast=1,relationMtm=0,nameMaxMtm=0".
  std::string toString() const;
};

// Stream the text forms; lets log statements take records directly.
ORVEX_RECORDS_API std::ostream& operator<<(std::ostream& os, const TopicReq& req);
ORVEX_RECORDS_API std::ostream& operator<<(std::ostream& os, const PageResponse& rsp);

}  // namespace orvex
