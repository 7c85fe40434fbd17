#include "orvex/ServerNameReader.h"

#include <rapidjson/document.h>

#include <cstdint>

#include "orvex/Log.h"
#include "orvex/Messages.h"

namespace orvex {

namespace {

log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(kLoggerName);

// The parse error shown the way a stream shows a pointer (hexadecimal with "0x").
const void* errorCodeAsPointer(rapidjson::ParseErrorCode code) {
  return reinterpret_cast<const void*>(static_cast<uintptr_t>(code));
}

}  // namespace

ResultStatus readServerName(const std::string& body, std::string& serverName) {
  if (body.empty()) {
    return ResultStatus();
  }
  rapidjson::Document doc;
  // Iterative parsing accepts the same documents but cannot exhaust the stack on deep nesting.
  doc.Parse<rapidjson::kParseIterativeFlag>(body.data(), body.size());
  if (doc.HasParseError()) {
    ORVEX_LOG_ERROR(logger, msg::kJsonLogPrefix
                                << body << ",errCode=" << errorCodeAsPointer(doc.GetParseError()));
    return ResultStatus(UNKNOWN, msg::kJsonParseFailed);
  }
  // Anything but an object with a string "name" leaves the name as it was.
  if (!doc.IsObject()) {
    return ResultStatus();
  }
  auto name = doc.FindMember("name");
  if (name != doc.MemberEnd() && name->value.IsString()) {
    serverName.assign(name->value.GetString(), name->value.GetStringLength());
  }
  return ResultStatus();
}

}  // namespace orvex
