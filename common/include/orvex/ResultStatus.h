// The result of almost every operation: a code and a message.
//
// A plain value; not synchronised. Messages written by this system are GBK text.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

#include "orvex/Export.h"
#include "orvex/ResultCode.h"

namespace orvex {

struct ORVEX_RECORDS_API ResultStatus {
  int32_t code = OK;
  std::string msg;

  ResultStatus() = default;
  ResultStatus(int32_t c, std::string m) : code(c), msg(std::move(m)) {}
  explicit ResultStatus(int32_t c) : code(c) {}

  bool ok() const { return code == OK; }

  // codeName(code) + "@" + msg, for example "INVALID_PARAM@x" or "OK@".
  std::string toString() const;
};

// Writes toString(); lets log statements stream a status.
ORVEX_RECORDS_API std::ostream& operator<<(std::ostream& os, const ResultStatus& status);

}  // namespace orvex
