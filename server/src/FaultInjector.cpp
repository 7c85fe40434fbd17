#include "hqserver/FaultInjector.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

#include <charconv>
#include <cstdint>

namespace orvex {
namespace hqserver {

namespace {

// Every kind with its name on the command line: the one list that parsing and printing share.
struct KindName {
  FaultRule::Kind kind;
  const char* name;
};
constexpr KindName kKinds[] = {
    {FaultRule::Kind::Status, "status"},      {FaultRule::Kind::Delay, "delay"},
    {FaultRule::Kind::Close, "close"},        {FaultRule::Kind::Garbage, "garbage"},
    {FaultRule::Kind::Answer, "answer"},      {FaultRule::Kind::ChunkedCut, "chunked-cut"},
    {FaultRule::Kind::BadChunk, "bad-chunk"}, {FaultRule::Kind::Drip, "drip"},
    {FaultRule::Kind::Endless, "endless"},    {FaultRule::Kind::CapsHeaders, "caps-headers"}};

std::string kindList() {
  std::string list;
  for (const KindName& k : kKinds) list += (list.empty() ? "" : "|") + std::string(k.name);
  return list;
}

bool parseNumber(const std::string& text, int64_t low, int64_t high, int64_t& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && ptr == text.data() + text.size() && out >= low &&
         out <= high;
}

bool parseKind(const std::string& text, FaultRule::Kind& kind) {
  for (const KindName& k : kKinds) {
    if (text == k.name) {
      kind = k.kind;
      return true;
    }
  }
  return false;
}

// A value as the command line takes it back: commas and percent signs encoded.
std::string encoded(const std::string& value) {
  std::string text;
  for (char c : value) text += c == ',' ? "%2C" : c == '%' ? "%25" : std::string(1, c);
  return text;
}

}  // namespace

const char* FaultRule::kindName(Kind kind) {
  for (const KindName& k : kKinds) {
    if (k.kind == kind) return k.name;
  }
  return "?";
}

std::optional<FaultRule> FaultRule::parse(
    const std::vector<std::pair<std::string, std::string>>& args, std::string& error) {
  FaultRule rule;
  bool haveKind = false, haveTrigger = false, haveCode = false;
  for (const auto& [name, value] : args) {
    int64_t number = 0;
    if (name == "kind") {
      if (!parseKind(value, rule.kind)) {
        error = "fault kind must be one of " + kindList() + ": '" + value + "'";
        return std::nullopt;
      }
      haveKind = true;
    } else if (name == "code") {
      if (!parseNumber(value, 100, 599, number)) {
        error = "fault code must be an HTTP status 100..599: '" + value + "'";
        return std::nullopt;
      }
      rule.code = static_cast<int>(number);
      haveCode = true;
    } else if (name == "body") {
      rule.body = value;
    } else if (name == "header") {
      const size_t colon = value.find(':');
      if (colon == 0 || colon == std::string::npos) {
        error = "fault header must be NAME:VALUE: '" + value + "'";
        return std::nullopt;
      }
      rule.headers.emplace_back(value.substr(0, colon), value.substr(colon + 1));
    } else if (name == "ms") {
      if (!parseNumber(value, 0, 600000, number)) {
        error = "fault ms must be 0..600000: '" + value + "'";
        return std::nullopt;
      }
      rule.delayMs = static_cast<int>(number);
    } else if (name == "path") {
      if (value.empty()) {
        error = "fault path must not be empty";
        return std::nullopt;
      }
      rule.path = value;
    } else if (name == "first" || name == "every") {
      if (haveTrigger) {
        error = "a fault takes only one of first= and every=";
        return std::nullopt;
      }
      if (!parseNumber(value, 1, INT64_MAX, number)) {
        error = "fault " + name + " must be a positive integer: '" + value + "'";
        return std::nullopt;
      }
      rule.trigger = name == "first" ? Trigger::First : Trigger::Every;
      rule.n = number;
      haveTrigger = true;
    } else {
      error = "unknown fault setting '" + name + "'";
      return std::nullopt;
    }
  }
  if (!haveKind) {
    error = "a fault needs kind=" + kindList();
    return std::nullopt;
  }
  if (rule.kind == Kind::Answer && !haveCode) rule.code = 200;
  return rule;
}

std::optional<FaultRule> FaultRule::parse(const std::string& settings, std::string& error) {
  std::vector<std::pair<std::string, std::string>> args;
  size_t start = 0;
  while (start <= settings.size()) {
    size_t comma = settings.find(',', start);
    if (comma == std::string::npos) comma = settings.size();
    std::string item = settings.substr(start, comma - start);
    size_t eq = item.find('=');
    if (eq == std::string::npos) {
      error = "fault setting without '=': '" + item + "'";
      return std::nullopt;
    }
    std::string value;
    try {
      Poco::URI::decode(item.substr(eq + 1), value);
    } catch (const Poco::SyntaxException&) {
      error = "fault setting with a broken percent-encoding: '" + item + "'";
      return std::nullopt;
    }
    args.emplace_back(item.substr(0, eq), value);
    start = comma + 1;
  }
  return parse(args, error);
}

std::string FaultRule::toString() const {
  std::string text = std::string("kind=") + kindName(kind);
  if (kind == Kind::Status || kind == Kind::Answer) text += ",code=" + std::to_string(code);
  if ((kind == Kind::Delay || kind == Kind::Drip) && delayMs >= 0)
    text += ",ms=" + std::to_string(delayMs);
  if (kind == Kind::Answer) {
    text += ",body=" + encoded(body);
    for (const auto& [name, value] : headers) text += ",header=" + encoded(name + ":" + value);
  }
  text += ",path=" + encoded(path);
  text += (trigger == Trigger::First ? ",first=" : ",every=") + std::to_string(n);
  return text;
}

void FaultInjector::add(const FaultRule& rule) {
  std::lock_guard<std::mutex> lock(mutex_);
  active_.push_back(Active{rule, 0});
}

void FaultInjector::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  active_.clear();
}

std::optional<FaultRule> FaultInjector::next(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<FaultRule> chosen;
  for (auto& a : active_) {
    if (a.rule.path != "*" && a.rule.path != path) continue;
    const int64_t seen = ++a.seen;
    const bool fires =
        a.rule.trigger == FaultRule::Trigger::First ? seen <= a.rule.n : seen % a.rule.n == 0;
    if (fires && !chosen) chosen = a.rule;
  }
  if (chosen) ++fired_;
  return chosen;
}

uint64_t FaultInjector::fired() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fired_;
}

std::vector<FaultRule> FaultInjector::rules() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<FaultRule> out;
  for (const auto& a : active_) out.push_back(a.rule);
  return out;
}

}  // namespace hqserver
}  // namespace orvex
