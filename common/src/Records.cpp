// Text forms of the records, as they appear in log lines.
#include "orvex/Records.h"

#include <iterator>

namespace orvex {

namespace {

struct FlagName {
  uint32_t value;
  const char* name;
};

// Ascending by value; the walk below relies on that order.
constexpr FlagName kFlagNames[] = {
    {None, "None"},
    {OnlyLocal, "OnlyLocal"},
    {SuperAuthority, "SuperAuthority"},
    {Quote, "Quote"},
    {OnlyServer, "OnlyServer"},
    {ChartReq, "ChartReq"},
    {TradeSim, "TradeSim"},
    {HighPrio, "HighPrio"},
    {NormalCode, "NormalCode"},
    {BuildUserIndex, "BuildUserIndex"},
    {ProductWrite, "ProductWrite"},
    {KvPYWrite, "KvPYWrite"},
    {AutoWriteName, "AutoWriteName"},
    {AutoWriteRelation, "AutoWriteRelation"},
    {DownLoadRelation, "DownLoadRelation"},
    {DeleteName, "DeleteName"},
    {ByModifyTime, "ByModifyTime"},
    {OnlyNight, "OnlyNight"},
    {OnlyDay, "OnlyDay"},
    {Snapshot, "Snapshot"},
    {IgnoreLastReqTime, "IgnoreLastReqTime"},
    {UserReq, "UserReq"},
};

}  // namespace

std::string flagsToString(uint32_t flags) {
  std::string text;
  uint32_t rest = flags;
  for (auto it = std::begin(kFlagNames); it != std::end(kFlagNames) && rest != 0; ++it) {
    if ((it->value & rest) != 0) {
      text += it->name;
      text += '|';
      rest &= ~it->value;
    }
  }
  if (!text.empty()) {
    text.pop_back();
  }
  return text;
}

std::string TopicReq::toString() const {
  std::string text;
  text.reserve(96 + key.size());
  text += "key=";
  text += key;
  text += ",targetSize=";
  text += std::to_string(targets.size());
  if (!targets.empty()) {
    text += ",firstTarget=";
    text += targets.front();
  }
  text += ",beginTime=";
  text += std::to_string(beginTime);
  text += ",endTime=";
  text += std::to_string(endTime);
  text += ",maxCount=";
  text += std::to_string(maxCount);
  text += ",flags=";
  text += flagsToString(flags);
  return text;
}

std::string PageResponse::toString() const {
  std::string text("page=");
  text += std::to_string(page);
  text += ",isLast=";
  text += isLast ? '1' : '0';
  text += ",relationMtm=";
  text += std::to_string(relationMtm);
  text += ",nameMaxMtm=";
  text += std::to_string(nameMaxMtm);
  return text;
}

std::ostream& operator<<(std::ostream& os, const TopicReq& req) { return os << req.toString(); }

std::ostream& operator<<(std::ostream& os, const PageResponse& rsp) { return os << rsp.toString(); }

}  // namespace orvex
