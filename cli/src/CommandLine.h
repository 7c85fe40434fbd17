// The command line of orvex_cli: commands, options and their usage texts.
//
// Stateless apart from the values it returns; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "RecordWriter.h"

namespace orvex {
namespace cli {

enum class ProgressMode { Auto, Always, Never };

struct CliOptions {
  std::string command;            // name, last, cache, range or fetch
  std::vector<std::string> args;  // the command's KEY and TARGETs
  std::string server;             // empty: the configuration key "server"
  std::string configFile;
  std::vector<std::pair<std::string, std::string>> settings;  // --set, in order
  std::string pluginPath;                                     // empty: the default
  OutputFormat format = OutputFormat::Csv;
  std::string logLevel = "warn";
  std::string logConfig;
  bool logTime = false;
  ProgressMode progress = ProgressMode::Auto;
  int64_t beginTime = 0;
  int64_t endTime = 0;
  int32_t maxCount = 0;
  bool byModifyTime = false;
  int32_t threads = 1;
};

struct ParsedCommandLine {
  enum class Kind { Run, Help, Error };
  Kind kind = Kind::Error;
  CliOptions options;
  std::string error;        // Kind::Error: what is wrong, one line
  std::string helpCommand;  // Kind::Help and Kind::Error: the command whose usage to show
};

// Parses the arguments after the program name. Options may stand before or after the command;
// "--opt value" and "--opt=value" are both accepted and "--" ends the options.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

// The usage text of `command`, or the general one when `command` is empty or unknown.
std::string usageText(const std::string& command);

}  // namespace cli
}  // namespace orvex
