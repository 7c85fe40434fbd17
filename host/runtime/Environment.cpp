// The configuration object: a string map under a reader-writer lock, filled from files and by
// the host at run time.
#include "orvex/Environment.h"

#include <fstream>
#include <mutex>
#include <string_view>

#include "orvex/StringHelper.h"

namespace vantor {
namespace {

std::string_view trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return std::string_view();
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

Environment& Environment::instance() {
  static Environment environment;
  return environment;
}

Environment::~Environment() = default;

std::string Environment::getValue(const std::string& key, const std::string& defaultValue) const {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  auto it = values_.find(key);
  return it == values_.end() ? defaultValue : it->second;
}

UserInfo Environment::getUserInfo() const {
  std::shared_lock<std::shared_mutex> lock(mutex_);
  auto value = [this](const char* key) {
    auto it = values_.find(key);
    return it == values_.end() ? std::string() : it->second;
  };
  return UserInfo{value("user"), value("user_name"), value("user_group"), value("user_extra")};
}

std::string Environment::getVersion() const { return getValue("version", ""); }

std::string Environment::getProductName() const { return getValue("product", ""); }

int Environment::getProductNumber() const {
  return orvex::StringHelper::ToInt(getValue("product_number", ""));
}

orvex::ResultStatus Environment::loadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return orvex::ResultStatus(orvex::NOT_EXIST, "cannot read configuration file " + path);

  // Parse everything first so that a bad line leaves the configuration as it was.
  std::map<std::string, std::string> parsed;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::string_view text = trim(line);
    if (text.empty() || text.front() == '#') continue;
    size_t eq = text.find('=');
    if (eq == std::string_view::npos) {
      return orvex::ResultStatus(orvex::INVALID_PARAM, "configuration file " + path + " line " +
                                                           std::to_string(number) +
                                                           ": no '=' in the line");
    }
    parsed[std::string(trim(text.substr(0, eq)))] = std::string(trim(text.substr(eq + 1)));
  }
  if (in.bad())
    return orvex::ResultStatus(orvex::NOT_EXIST, "cannot read configuration file " + path);

  std::unique_lock<std::shared_mutex> lock(mutex_);
  for (auto& entry : parsed) values_[entry.first] = std::move(entry.second);
  return orvex::ResultStatus();
}

void Environment::setValue(const std::string& key, const std::string& value) {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  values_[key] = value;
}

void Environment::clear() {
  std::unique_lock<std::shared_mutex> lock(mutex_);
  values_.clear();
}

}  // namespace vantor
