#include "ScopedEnvironment.h"

#include "orvex/Environment.h"

namespace orvex {
namespace test {

ScopedEnvironment::ScopedEnvironment() { vantor::Environment::instance().clear(); }

ScopedEnvironment::ScopedEnvironment(
    std::initializer_list<std::pair<std::string, std::string>> values)
    : ScopedEnvironment() {
  for (const auto& [key, value] : values) set(key, value);
}

ScopedEnvironment::~ScopedEnvironment() { vantor::Environment::instance().clear(); }

ScopedEnvironment& ScopedEnvironment::set(const std::string& key, const std::string& value) {
  vantor::Environment::instance().setValue(key, value);
  return *this;
}

}  // namespace test
}  // namespace orvex
