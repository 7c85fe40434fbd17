// An authentication service whose answers a test sets and whose calls it counts, and an RAII
// installer into the service router.
//
// Set the answers before a client runs; the calls may come from several threads at once, and the
// counters are read once they have returned. ScopedAuthService installs a service into
// IServiceRouter::instance() for its lifetime and puts back whatever was installed before.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "orvex/IServiceRouter.h"

namespace orvex {
namespace test {

struct FakeAuthService : IAuthService {
  explicit FakeAuthService(std::string token) : token(std::move(token)) {}

  ResultStatus fetchToken(const TokenRequest& request, std::string& out) override {
    std::this_thread::sleep_for(tokenDelay);  // lets concurrent refreshes overlap
    std::lock_guard<std::mutex> lock(mutex_);
    ++tokenFetches;
    lastTokenRequest = request;
    if (tokenFailuresLeft > 0) {
      --tokenFailuresLeft;
      return tokenFailure;
    }
    out = token;
    return {};
  }
  ResultStatus fetchAccessInfo(int32_t kind, AccessInfo& out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++accessInfoFetches;
    lastAccessInfoKind = kind;
    if (accessInfoFailure) return *accessInfoFailure;
    out = accessInfo;
    return {};
  }

  // The answers.
  std::string token;
  int tokenFailuresLeft = 0;  // the next fetches that fail with tokenFailure
  ResultStatus tokenFailure;
  std::chrono::milliseconds tokenDelay{0};
  AccessInfo accessInfo;
  std::optional<ResultStatus> accessInfoFailure;
  // The calls.
  int tokenFetches = 0;
  int accessInfoFetches = 0;
  TokenRequest lastTokenRequest;
  int32_t lastAccessInfoKind = -1;

 private:
  std::mutex mutex_;
};

class ScopedAuthService {
 public:
  explicit ScopedAuthService(std::shared_ptr<IAuthService> service)
      : previous_(IServiceRouter::instance().getAuthService()) {
    IServiceRouter::instance().setAuthService(std::move(service));
  }
  ~ScopedAuthService() { IServiceRouter::instance().setAuthService(std::move(previous_)); }
  ScopedAuthService(const ScopedAuthService&) = delete;
  ScopedAuthService& operator=(const ScopedAuthService&) = delete;

 private:
  std::shared_ptr<IAuthService> previous_;
};

}  // namespace test
}  // namespace orvex
