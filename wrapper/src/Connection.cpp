// connect, the address normalisation and the server name.
#include <algorithm>
#include <cctype>
#include <regex>

#include "ExceptionBarrier.h"
#include "marketdata/HistoryWrapper.h"
#include "orvex/HqHistoryApi.h"

namespace marketdata {

namespace {

constexpr uint32_t kSessionCount = 4;

// The scheme words and "://". libstdc++ matches a trailing `\S*` recursively, one stack frame
// per character, so a long address would overflow the stack: the rest is scanned by hand.
const std::regex& schemePattern() {
  static const std::regex pattern(R"((^http|https|tcp|udp|ws|wss|ssl):\/\/)",
                                  std::regex::ECMAScript);
  return pattern;
}

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

orvex::ResultStatus HistoryWrapper::connect(const std::string& address) {
  return ExceptionBarrier::run("connect", [&] {
    const std::string url = parseAddress(address);
    std::string initTime;
    orvex::ResultStatus status = historyApi->init(url, initTime, kSessionCount);
    if (status.code != orvex::OK) return status;
    return historyApi->getServerName(serverName);
  });
}

std::string HistoryWrapper::getServerName() {
  try {
    return serverName;
  } catch (const std::exception& e) {
    ExceptionBarrier::caught("getServerName", e.what());
    return std::string();
  }
}

std::string HistoryWrapper::parseAddress(const std::string& address) {
  // No scheme word holds a ':', so the first "://" is the only place the scheme can end.
  const size_t separator = address.find("://");
  if (separator != std::string::npos) {
    const auto rest = address.begin() + static_cast<std::ptrdiff_t>(separator + 3);
    if (std::regex_match(address.begin(), rest, schemePattern()) &&
        std::none_of(rest, address.end(), isSpace)) {
      return address;
    }
  }
  return "http://" + address;
}

}  // namespace marketdata
