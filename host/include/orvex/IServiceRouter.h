// The host's service router and its authentication service.
//
// The router hands out the installed authentication service, or null when the host installed
// none. Hosts install one with setAuthService; tests install fakes. Thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvex/Export.h"
#include "orvex/ResultStatus.h"

namespace orvex {

struct TokenRequest {
  int32_t kind = 0;
  std::vector<std::string> services;
};

// Access information: `key` and `secret` sign requests; `user` and `extra` are the service's.
struct AccessInfo {
  std::string user;
  std::string key;
  std::string secret;
  std::string extra;
};

class IAuthService {
 public:
  virtual ~IAuthService() = default;
  // Fetches an access token into `token`.
  virtual ResultStatus fetchToken(const TokenRequest& request, std::string& token) = 0;
  // Fills all four fields of `info` for `kind`.
  virtual ResultStatus fetchAccessInfo(int32_t kind, AccessInfo& info) = 0;
};

class ORVEX_RUNTIME_API IServiceRouter {
 public:
  static IServiceRouter& instance();

  virtual ~IServiceRouter();

  // The installed authentication service, or null.
  virtual std::shared_ptr<IAuthService> getAuthService();

  // Installs `service` (null removes it).
  void setAuthService(std::shared_ptr<IAuthService> service);

  IServiceRouter(const IServiceRouter&) = delete;
  IServiceRouter& operator=(const IServiceRouter&) = delete;

 protected:
  IServiceRouter() = default;

 private:
  std::mutex mutex_;
  std::shared_ptr<IAuthService> auth_;
};

// An authentication service that serves what the configuration (vantor::Environment) holds, for
// hosts that have no other:
//   fetchToken       the value of "token"; OK with an empty token when it is not set
//   fetchAccessInfo  user = "user", key = "access_key", secret = "access_secret",
//                    extra = "access_extra"; NOT_AUTH_SETTING when "access_key" is not set
class ORVEX_RUNTIME_API ConfigAuthService : public IAuthService {
 public:
  ResultStatus fetchToken(const TokenRequest& request, std::string& token) override;
  ResultStatus fetchAccessInfo(int32_t kind, AccessInfo& info) override;
};

}  // namespace orvex
