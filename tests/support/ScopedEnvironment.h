// Configuration values of vantor::Environment for the duration of a test.
//
// Construction clears the process-wide configuration, so a test starts from known values;
// destruction clears it again, so nothing leaks into the next test. Not for use by two tests at
// once (the configuration is process-wide); the values themselves are safe to read from any thread.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace orvex {
namespace test {

class ScopedEnvironment {
 public:
  ScopedEnvironment();
  // Clears, then sets each key to its value.
  ScopedEnvironment(std::initializer_list<std::pair<std::string, std::string>> values);
  ~ScopedEnvironment();

  // Sets `key` to `value` for the rest of the scope; returns *this for chaining.
  ScopedEnvironment& set(const std::string& key, const std::string& value);

  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
};

}  // namespace test
}  // namespace orvex
