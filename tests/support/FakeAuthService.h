// A scriptable authentication service for tests, and an RAII installer into the service router.
//
// FakeAuthService serves a settable token and access information. Failures can be injected: the
// next N token fetches fail with a given status (then fetches succeed again), and access-info
// fetches fail while a failure is set. Every call is counted and its arguments kept; an optional
// delay inside fetchToken makes concurrent refreshes overlap, and the largest number of
// fetchToken calls seen running at once is recorded. Thread-safe.
//
// ScopedAuthService installs a service into IServiceRouter::instance() for its lifetime and puts
// back whatever was installed before (usually nothing) on destruction.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "orvex/IServiceRouter.h"

namespace orvex {
namespace test {

class FakeAuthService : public IAuthService {
 public:
  // Serves `token` (empty by default) until changed.
  explicit FakeAuthService(std::string token = "");

  void setToken(const std::string& token);
  // The next `count` token fetches return `failure` and leave the out token untouched.
  void failNextTokenFetches(int count, const ResultStatus& failure);
  // Sleep inside every fetchToken, before answering.
  void setTokenDelay(std::chrono::milliseconds delay);

  // What fetchAccessInfo copies into its out record on success.
  void setAccessInfo(const AccessInfo& info);
  // While set, fetchAccessInfo returns `failure` without touching its out record.
  void failAccessInfo(const ResultStatus& failure);
  void clearAccessInfoFailure();

  int tokenFetches() const;
  int accessInfoFetches() const;
  int maxConcurrentTokenFetches() const;
  TokenRequest lastTokenRequest() const;
  int32_t lastAccessInfoKind() const;

  ResultStatus fetchToken(const TokenRequest& request, std::string& token) override;
  ResultStatus fetchAccessInfo(int32_t kind, AccessInfo& info) override;

 private:
  mutable std::mutex mutex_;
  std::string token_;
  int failuresLeft_ = 0;
  ResultStatus tokenFailure_;
  std::chrono::milliseconds delay_{0};
  AccessInfo accessInfo_;
  bool accessInfoFails_ = false;
  ResultStatus accessInfoFailure_;

  int tokenFetches_ = 0;
  int accessInfoFetches_ = 0;
  int runningTokenFetches_ = 0;
  int maxConcurrentTokenFetches_ = 0;
  TokenRequest lastTokenRequest_;
  int32_t lastAccessInfoKind_ = -1;
};

class ScopedAuthService {
 public:
  explicit ScopedAuthService(std::shared_ptr<IAuthService> service);
  ~ScopedAuthService();

  ScopedAuthService(const ScopedAuthService&) = delete;
  ScopedAuthService& operator=(const ScopedAuthService&) = delete;

 private:
  std::shared_ptr<IAuthService> previous_;
};

}  // namespace test
}  // namespace orvex
