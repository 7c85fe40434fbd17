// Reading the server's name out of a "/getServerVersion" answer.
//
// Kept apart from the HTTP probe because it handles whatever bytes the service sends, so it is
// exercised on its own by the fuzzers as well as through HqHistoryApi::getServerName. Stateless
// and thread-safe.
#pragma once

#include <string>

#include "orvex/ResultStatus.h"

namespace orvex {

// Reads `body`, the answer body as received. An object with a string member "name" writes that
// string into `serverName` and gives OK; an empty body, any other JSON value and an object
// without a string "name" give OK and leave `serverName` as it was. A body that is not JSON gives
// UNKNOWN with "json解析失败" (GBK), logs the body at ERROR and leaves `serverName` as it was.
// Never throws; arbitrarily deep nesting cannot exhaust the stack.
ResultStatus readServerName(const std::string& body, std::string& serverName);

}  // namespace orvex
