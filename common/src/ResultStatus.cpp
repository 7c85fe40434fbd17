// Text form of ResultStatus.
#include "orvex/ResultStatus.h"

namespace orvex {

std::string ResultStatus::toString() const {
  std::string text(codeName(code));
  text += '@';
  text += msg;
  return text;
}

std::ostream& operator<<(std::ostream& os, const ResultStatus& status) {
  return os << status.toString();
}

}  // namespace orvex
