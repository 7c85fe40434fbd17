// The service router: hands out the installed authentication service. ConfigAuthService serves
// token and access information straight from the configuration.
#include "orvex/IServiceRouter.h"

#include <utility>

#include "orvex/Environment.h"

namespace orvex {

IServiceRouter& IServiceRouter::instance() {
  static IServiceRouter router;
  return router;
}

IServiceRouter::~IServiceRouter() = default;

std::shared_ptr<IAuthService> IServiceRouter::getAuthService() {
  std::lock_guard<std::mutex> lock(mutex_);
  return auth_;
}

void IServiceRouter::setAuthService(std::shared_ptr<IAuthService> service) {
  std::lock_guard<std::mutex> lock(mutex_);
  auth_ = std::move(service);
}

ResultStatus ConfigAuthService::fetchToken(const TokenRequest& /*request*/, std::string& token) {
  token = vantor::Environment::instance().getValue("token", "");
  return ResultStatus();
}

ResultStatus ConfigAuthService::fetchAccessInfo(int32_t /*kind*/, AccessInfo& info) {
  const vantor::Environment& env = vantor::Environment::instance();
  std::string key = env.getValue("access_key", "");
  if (key.empty()) return ResultStatus(NOT_AUTH_SETTING, "access_key is not configured");
  info.user = env.getValue("user", "");
  info.key = std::move(key);
  info.secret = env.getValue("access_secret", "");
  info.extra = env.getValue("access_extra", "");
  return ResultStatus();
}

}  // namespace orvex
