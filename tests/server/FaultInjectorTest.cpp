// Fault rules: their text form and when they fire.
#include <gtest/gtest.h>

#include "hqserver/FaultInjector.h"

namespace orvex {
namespace hqserver {
namespace {

FaultRule rule(const std::string& settings) {
  std::string error;
  auto r = FaultRule::parse(settings, error);
  EXPECT_TRUE(r.has_value()) << settings << ": " << error;
  return r.value_or(FaultRule{});
}

// Which of the next `n` requests to `path` get a fault, as a string of 'x' and '.'.
std::string pattern(FaultInjector& faults, const std::string& path, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += faults.next(path) ? 'x' : '.';
  return out;
}

TEST(FaultRuleTest, ParsesTheDocumentedSettings) {
  EXPECT_EQ(rule("kind=status,code=500,path=/QryLast,first=2").toString(),
            "kind=status,code=500,path=/QryLast,first=2");
  EXPECT_EQ(rule("kind=delay,ms=250,every=3").toString(), "kind=delay,ms=250,path=*,every=3");
  EXPECT_EQ(rule("kind=delay").delayMs, -1) << "default: past the client's Request-Timeout";
  EXPECT_EQ(rule("kind=status").code, 503);
  EXPECT_EQ(rule("kind=close").toString(), "kind=close,path=*,every=1");
  EXPECT_EQ(rule("kind=garbage,path=/QryCodeType").kind, FaultRule::Kind::Garbage);
}

TEST(FaultRuleTest, RefusesMalformedSettingsWithAReason) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "without '='"},
      {"code=500", "needs kind"},
      {"kind=explode", "fault kind"},
      {"kind=status,code=99", "fault code"},
      {"kind=status,code=abc", "fault code"},
      {"kind=delay,ms=-1", "fault ms"},
      {"kind=close,first=0", "positive"},
      {"kind=close,first=1,every=2", "only one"},
      {"kind=close,path=", "path"},
      {"kind=close,color=red", "unknown fault setting 'color'"},
      {"kind=close,first", "without '='"},
  };
  for (const auto& [settings, reason] : cases) {
    std::string error;
    EXPECT_FALSE(FaultRule::parse(settings, error).has_value()) << settings;
    EXPECT_NE(error.find(reason), std::string::npos) << settings << " -> " << error;
  }
}

TEST(FaultInjectorTest, FiresOnTheFirstNOrEveryNthRequestOfItsPath) {
  FaultInjector faults;
  faults.add(rule("kind=status,path=/QryLast,first=2"));
  faults.add(rule("kind=close,path=/QryCodeType,every=3"));
  EXPECT_EQ(pattern(faults, "/HeartBeat", 3), "...");
  EXPECT_EQ(pattern(faults, "/QryLast", 4), "xx..");
  EXPECT_EQ(pattern(faults, "/QryCodeType", 7), "..x..x.");
  EXPECT_EQ(faults.fired(), 4u);
  faults.clear();
  EXPECT_EQ(pattern(faults, "/QryCodeType", 3), "...");
}

TEST(FaultInjectorTest, EarliestRuleWinsWhileEveryMatchingRuleCounts) {
  FaultInjector faults;
  faults.add(rule("kind=status,code=500,path=*,every=2"));
  faults.add(rule("kind=garbage,path=/QryLast,first=3"));
  std::vector<FaultRule::Kind> kinds;
  for (int i = 0; i < 4; ++i) {
    auto fired = faults.next("/QryLast");
    ASSERT_TRUE(fired.has_value()) << i;
    kinds.push_back(fired->kind);
  }
  using K = FaultRule::Kind;
  EXPECT_EQ(kinds, (std::vector<K>{K::Garbage, K::Status, K::Garbage, K::Status}));
  // The catch-all rule counted those four too: another path gets its fifth and sixth request.
  EXPECT_EQ(pattern(faults, "/HeartBeat", 2), ".x");
}

}  // namespace
}  // namespace hqserver
}  // namespace orvex
