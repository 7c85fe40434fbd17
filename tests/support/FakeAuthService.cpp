#include "FakeAuthService.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace orvex {
namespace test {

FakeAuthService::FakeAuthService(std::string token) : token_(std::move(token)) {}

void FakeAuthService::setToken(const std::string& token) {
  std::lock_guard<std::mutex> lock(mutex_);
  token_ = token;
}

void FakeAuthService::failNextTokenFetches(int count, const ResultStatus& failure) {
  std::lock_guard<std::mutex> lock(mutex_);
  failuresLeft_ = count;
  tokenFailure_ = failure;
}

void FakeAuthService::setTokenDelay(std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  delay_ = delay;
}

void FakeAuthService::setAccessInfo(const AccessInfo& info) {
  std::lock_guard<std::mutex> lock(mutex_);
  accessInfo_ = info;
}

void FakeAuthService::failAccessInfo(const ResultStatus& failure) {
  std::lock_guard<std::mutex> lock(mutex_);
  accessInfoFails_ = true;
  accessInfoFailure_ = failure;
}

void FakeAuthService::clearAccessInfoFailure() {
  std::lock_guard<std::mutex> lock(mutex_);
  accessInfoFails_ = false;
}

int FakeAuthService::tokenFetches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tokenFetches_;
}

int FakeAuthService::accessInfoFetches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accessInfoFetches_;
}

int FakeAuthService::maxConcurrentTokenFetches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return maxConcurrentTokenFetches_;
}

TokenRequest FakeAuthService::lastTokenRequest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastTokenRequest_;
}

int32_t FakeAuthService::lastAccessInfoKind() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastAccessInfoKind_;
}

ResultStatus FakeAuthService::fetchToken(const TokenRequest& request, std::string& token) {
  std::chrono::milliseconds delay;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++tokenFetches_;
    ++runningTokenFetches_;
    maxConcurrentTokenFetches_ = std::max(maxConcurrentTokenFetches_, runningTokenFetches_);
    lastTokenRequest_ = request;
    delay = delay_;
  }
  if (delay.count() > 0) {
    std::this_thread::sleep_for(delay);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  --runningTokenFetches_;
  if (failuresLeft_ > 0) {
    --failuresLeft_;
    return tokenFailure_;
  }
  token = token_;
  return ResultStatus();
}

ResultStatus FakeAuthService::fetchAccessInfo(int32_t kind, AccessInfo& info) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++accessInfoFetches_;
  lastAccessInfoKind_ = kind;
  if (accessInfoFails_) {
    return accessInfoFailure_;
  }
  info = accessInfo_;
  return ResultStatus();
}

ScopedAuthService::ScopedAuthService(std::shared_ptr<IAuthService> service)
    : previous_(IServiceRouter::instance().getAuthService()) {
  IServiceRouter::instance().setAuthService(std::move(service));
}

ScopedAuthService::~ScopedAuthService() {
  IServiceRouter::instance().setAuthService(std::move(previous_));
}

}  // namespace test
}  // namespace orvex
