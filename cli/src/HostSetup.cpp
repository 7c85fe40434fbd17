#include "HostSetup.h"

#include <log4cxx/consoleappender.h>
#include <log4cxx/helpers/exception.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/propertyconfigurator.h>
#include <unistd.h>

#include "DisplayText.h"
#include "orvex/Environment.h"
#include "orvex/IServiceRouter.h"
#include "orvex/Timestamp.h"

namespace orvex {
namespace cli {
namespace {

constexpr const char* kMacAlias = "mac";
constexpr const char* kMacKey = "kvmacaddress";

void setValue(const std::string& key, const std::string& value) {
  vantor::Environment::instance().setValue(key == kMacAlias ? kMacKey : key, value);
}

}  // namespace

std::string configureLogging(const CliOptions& options) {
  setTimeEnabled(options.logTime);
  auto repository = log4cxx::LogManager::getLoggerRepository();
  if (!options.logConfig.empty()) {
    if (::access(options.logConfig.c_str(), R_OK) != 0) {
      return "cannot read log configuration " + options.logConfig;
    }
    try {
      log4cxx::PropertyConfigurator::configure(log4cxx::File(options.logConfig));
    } catch (const log4cxx::helpers::Exception& e) {
      return "bad log configuration " + options.logConfig + ": " + e.what();
    }
    return "";
  }
  // The plug-in writes its own level tag and logger name; the layout adds nothing.
  auto layout = std::make_shared<log4cxx::PatternLayout>(LOG4CXX_STR("%m%n"));
  auto appender =
      std::make_shared<log4cxx::ConsoleAppender>(layout, log4cxx::ConsoleAppender::getSystemErr());
  log4cxx::LoggerPtr root = log4cxx::Logger::getRootLogger();
  root->removeAllAppenders();
  root->addAppender(appender);
  root->setLevel(log4cxx::Level::toLevel(options.logLevel, log4cxx::Level::getWarn()));
  repository->setConfigured(true);
  return "";
}

std::string configureEnvironment(const CliOptions& options) {
  vantor::Environment& env = vantor::Environment::instance();
  if (!options.configFile.empty()) {
    const ResultStatus loaded = env.loadFile(options.configFile);
    if (!loaded.ok()) {
      return std::string("bad configuration: ") + codeName(loaded.code) + ": " +
             messageText(loaded.msg);
    }
    const std::string mac = env.getValue(kMacAlias, "");
    if (!mac.empty()) env.setValue(kMacKey, mac);
  }
  for (const auto& [key, value] : options.settings) setValue(key, value);
  return "";
}

void installAuthService() {
  IServiceRouter::instance().setAuthService(std::make_shared<ConfigAuthService>());
}

std::string serviceAddress(const CliOptions& options) {
  if (!options.server.empty()) return options.server;
  return vantor::Environment::instance().getValue("server", "");
}

}  // namespace cli
}  // namespace orvex
