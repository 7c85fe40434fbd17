// Properties of orvex_cli's command-line reading on arbitrary argument vectors.
#include <climits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "FuzzChecks.h"

namespace orvex {
namespace fuzz {

namespace {

// NUL separates the arguments, as in a process's argument vector.
std::vector<std::string> arguments(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (size_t start = 0; size > 0 && start <= input.size();) {
    const size_t end = std::min(input.find('\0', start), input.size());
    args.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

// What the commands rely on: their names where they expect them, and usable ones.
std::string checkRun(const cli::CliOptions& o) {
  static const std::map<std::string, std::pair<size_t, size_t>> kNames = {
      {"name", {0, 0}},  {"last", {2, SIZE_MAX}},  {"cache", {2, 2}},
      {"range", {2, 2}}, {"fetch", {2, SIZE_MAX}}, {"download", {2, SIZE_MAX}}};
  const auto names = kNames.find(o.command);
  if (names == kNames.end()) return "an unknown command runs";
  if (o.args.size() < names->second.first || o.args.size() > names->second.second) {
    return "a command runs with the wrong number of names";
  }
  for (const std::string& name : o.args) {
    if (name.empty() || name.find(',') != std::string::npos) {
      return "a command runs with an empty name or one holding a comma";
    }
    if (o.command == "download" &&
        (name == "." || name == ".." || name.find('/') != std::string::npos)) {
      return "a download name leaves the output directory";
    }
  }
  if (o.beginTime > o.endTime) return "a time range that ends before it begins";
  if ((o.command == "range" || (o.command == "fetch" && !o.byModifyTime)) && o.maxCount < 1) {
    return "a range without a positive --max";
  }
  if (o.shardCount < 1 || o.shardIndex < 0 || o.shardIndex >= o.shardCount) {
    return "a shard outside its count";
  }
  return "";
}

}  // namespace

std::string checkCommandLine(const uint8_t* data, size_t size) {
  const cli::ParsedCommandLine parsed = cli::parseCommandLine(arguments(data, size));
  switch (parsed.kind) {
    case cli::ParsedCommandLine::Kind::Run:
      return checkRun(parsed.options);
    case cli::ParsedCommandLine::Kind::Error:
      if (parsed.text.empty() || parsed.text.find('\n') != std::string::npos) {
        return "an error that is not one line";
      }
      return parsed.text.find("--help") == std::string::npos ? "an error without the usage to read"
                                                             : "";
    default:
      return parsed.text.empty() ? "an empty help or version text" : "";
  }
}

}  // namespace fuzz
}  // namespace orvex
