#include "HostSetup.h"

#include <log4cxx/consoleappender.h>
#include <log4cxx/helpers/exception.h>
#include <log4cxx/logmanager.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/propertyconfigurator.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "orvex/Environment.h"
#include "orvex/IServiceRouter.h"
#include "orvex/Timestamp.h"

namespace orvex {
namespace cli {
namespace {

constexpr const char* kMacAlias = "mac";
constexpr const char* kMacKey = "kvmacaddress";

// The keys the plug-in, the runtime's sessions, the authentication service and orvex_cli read.
const char* const kKnownKeys[] = {"server",      "token",        "fc_key",        "fc_secret",
                                  "mac",         "kvmacaddress", "user",          "user_name",
                                  "user_group",  "user_extra",   "product",       "product_number",
                                  "version",     "access_key",   "access_secret", "access_extra",
                                  "tls_ca_file", "tls_verify",   "http_gzip"};

bool isKnownKey(const std::string& key) {
  for (const char* known : kKnownKeys) {
    if (key == known) return true;
  }
  return false;
}

void setValue(const std::string& key, const std::string& value) {
  vantor::Environment::instance().setValue(key == kMacAlias ? kMacKey : key, value);
}

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Reads the whole file before anything is applied, so a bad line leaves the configuration alone.
std::string readConfigFile(const std::string& path, std::vector<std::string>& warnings,
                           std::vector<std::pair<std::string, std::string>>& values) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot read configuration file " + path;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    const std::string text = trimmed(line);
    if (text.empty() || text[0] == '#') continue;
    const size_t eq = text.find('=');
    const std::string where = path + ":" + std::to_string(number);
    if (eq == std::string::npos) return "bad configuration " + where + ": no '=' in the line";
    const std::string key = trimmed(text.substr(0, eq));
    if (!isKnownKey(key)) warnings.push_back(where + ": unknown configuration key '" + key + "'");
    values.emplace_back(key, trimmed(text.substr(eq + 1)));
  }
  if (in.bad()) return "cannot read configuration file " + path;
  return "";
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

std::string defaultConfigFile() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg != '\0') return std::string(xdg) + "/orvex/orvex.conf";
  const char* home = std::getenv("HOME");
  return home == nullptr ? "" : std::string(home) + "/.config/orvex/orvex.conf";
}

std::string configureEnvironment(const CliOptions& options, std::vector<std::string>& warnings) {
  std::string file = options.configFile;
  if (file.empty() && ::access(defaultConfigFile().c_str(), F_OK) == 0) file = defaultConfigFile();
  std::vector<std::pair<std::string, std::string>> values;
  if (!file.empty()) {
    const std::string error = readConfigFile(file, warnings, values);
    if (!error.empty()) return error;
  }
  for (const char* key : kKnownKeys) {
    std::string name = std::string("ORVEX_") + key;
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    if (const char* value = std::getenv(name.c_str())) values.emplace_back(key, value);
  }
  values.insert(values.end(), options.settings.begin(), options.settings.end());
  for (const auto& [key, value] : values) setValue(key, value);
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
