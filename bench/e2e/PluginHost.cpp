#include "PluginHost.h"

#include <dlfcn.h>
#include <log4cxx/consoleappender.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>

#include <stdexcept>

#include "orvex/Environment.h"
#include "orvex/HistoryAPIFactory.h"
#include "orvex/IServiceRouter.h"

namespace orvex {
namespace bench {

namespace {

constexpr int kHistoryTypeId = 5;

// Hands out one fixed token and no access key: the key and secret come from the configuration.
class FixedTokenAuth : public IAuthService {
 public:
  ResultStatus fetchToken(const TokenRequest& /*request*/, std::string& token) override {
    token = "bench-token";
    return ResultStatus();
  }
  ResultStatus fetchAccessInfo(int32_t /*kind*/, AccessInfo& info) override {
    info.user = "bench";
    return ResultStatus();
  }
};

// A production host logs at INFO: the plug-in's DEBUG statements stay disabled.
void configureLogging() {
  auto layout = std::make_shared<log4cxx::PatternLayout>(LOG4CXX_STR("%m%n"));
  auto appender =
      std::make_shared<log4cxx::ConsoleAppender>(layout, log4cxx::ConsoleAppender::getSystemErr());
  log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
  root->removeAllAppenders();
  root->addAppender(appender);
  root->setLevel(log4cxx::Level::getInfo());
}

void configureHost() {
  vantor::Environment& env = vantor::Environment::instance();
  env.setValue("user", "bench");
  env.setValue("product", "orvex-bench");
  env.setValue("product_number", "7");
  env.setValue("version", "1.0.0");
  env.setValue("kvmacaddress", "02:00:00:00:00:01");
  // The raw floor does not ask for gzip; section 7 measures it on its own.
  env.setValue("http_gzip", "false");
  IServiceRouter::instance().setAuthService(std::make_shared<FixedTokenAuth>());
}

}  // namespace

PluginHost::PluginHost(const std::string& pluginPath) {
  configureLogging();
  configureHost();
  // The factory keeps the creator for the life of the process, so the code must stay mapped.
  handle_ = dlopen(pluginPath.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle_ == nullptr) {
    const char* error = dlerror();
    throw std::runtime_error("cannot load " + pluginPath + ": " + (error ? error : "?"));
  }
  if (!HistoryAPIFactory::Instance().HasObject(kHistoryTypeId)) {
    throw std::runtime_error(pluginPath + " registered nothing under type id 5");
  }
}

PluginHost::~PluginHost() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::unique_ptr<IHistoryApi> PluginHost::open(const std::string& url, bool signing,
                                              int pools) const {
  std::unique_ptr<IHistoryApi> api(HistoryAPIFactory::Instance().CreateObject(kHistoryTypeId));
  if (!api) throw std::runtime_error("the factory made no wrapper");
  ResultStatus status;
  if (pools > 0) status = api->init(pools);
  if (!status.ok()) throw std::runtime_error("init: " + status.toString());

  // The client reads the key and secret when it connects.
  vantor::Environment& env = vantor::Environment::instance();
  env.setValue("fc_key", signing ? "bench-access-key" : "");
  env.setValue("fc_secret", signing ? "bench-access-secret" : "");
  status = api->connect(url);
  env.setValue("fc_key", "");
  env.setValue("fc_secret", "");
  if (!status.ok()) throw std::runtime_error("connect " + url + ": " + status.toString());
  return api;
}

}  // namespace bench
}  // namespace orvex
