// The command line of orvex_cli, read with CLI11: commands, options, --help and --version.
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
  std::string command;            // name, last, cache, range, fetch or download
  std::vector<std::string> args;  // the command's KEY and TARGETs
  std::string server;             // empty: the configuration key "server"
  std::string configFile;         // empty: the default file, when it exists
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
  // download
  std::string outDir;
  int32_t jobs = 4;
  int32_t retries = 3;
  bool gzip = true;  // --format csv.gz (default) or csv
  int32_t shardIndex = 0;
  int32_t shardCount = 1;
};

struct ParsedCommandLine {
  enum class Kind { Run, Help, Version, Error };
  Kind kind = Kind::Error;
  CliOptions options;
  std::string text;  // Help and Version: what to print; Error: one line saying what is wrong
};

// Parses the arguments after the program name. Options of every command may stand before or
// after the command; "--opt value" and "--opt=value" are both accepted and "--" ends the options.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

// The program's version, as --version prints it.
std::string versionText();

}  // namespace cli
}  // namespace orvex
