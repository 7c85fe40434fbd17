// HqHistoryApi: the identification headers and the cached access token.
//
// The token cache is guarded by tokenMutex, held across a refresh, so that callers arriving
// while the cache is empty wait for one refresh instead of each asking the service.

#include <string>

#include "orvex/Environment.h"
#include "orvex/HqHistoryApi.h"
#include "orvex/IServiceRouter.h"

namespace orvex {

namespace {

const int32_t kTokenKind = 13;
const char* const kTokenService = "history_quote_info";
const char* const kAuthHeader = "kvauth";

}  // namespace

HeaderMap HqHistoryApi::genHeader(int32_t timeoutMsec, const std::string& auth) {
  const vantor::Environment& env = vantor::Environment::instance();
  std::string version = env.getVersion();
  std::string user = env.getUserInfo().user;
  std::string mac = env.getValue("kvmacaddress", "");
  std::string productName = env.getProductName();
  int productNumber = env.getProductNumber();

  HeaderMap headers;
  headers["Request-Timeout"] = std::to_string(timeoutMsec);
  headers[kAuthHeader] = auth;
  headers["user"] = std::move(user);
  headers["product_id"] = productName + "_" + std::to_string(productNumber);
  headers["mac"] = std::move(mac);
  headers["kvversion"] = std::move(version);
  return headers;
}

std::string HqHistoryApi::getHeader(const HeaderMap& headers, const std::string& name,
                                    const std::string& defaultValue) {
  auto it = headers.find(name);
  return it == headers.end() ? defaultValue : it->second;
}

ResultStatus HqHistoryApi::getToken(const std::string& staleToken, std::string& out) const {
  std::lock_guard<std::mutex> lock(tokenMutex);
  if (!token.empty() && token != staleToken) {
    out = token;
    return ResultStatus();
  }
  ResultStatus status = refreshToken(token);
  out = token;
  return status;
}

ResultStatus HqHistoryApi::refreshToken(std::string& token) {
  std::shared_ptr<IAuthService> auth = IServiceRouter::instance().getAuthService();
  if (!auth) {
    return ResultStatus();
  }
  token.clear();
  std::string received;
  ResultStatus status = auth->fetchToken(TokenRequest{kTokenKind, {kTokenService}}, received);
  if (!status.ok()) {
    return status;
  }
  token = std::move(received);
  return ResultStatus();
}

std::pair<ResultStatus, HeaderMap> HqHistoryApi::fillToken(const std::string& staleToken,
                                                           const HeaderMap& headers) const {
  HeaderMap filled(headers);
  std::string current;
  ResultStatus status = getToken(staleToken, current);
  if (!status.ok()) {
    return {std::move(status), std::move(filled)};
  }
  filled[kAuthHeader] = std::move(current);
  return {ResultStatus(), std::move(filled)};
}

}  // namespace orvex
