#include "CommandLine.h"

#include <algorithm>
#include <climits>
#include <map>

#include "TimeText.h"

namespace orvex {
namespace cli {
namespace {

// Which commands take an option: a bit per command.
enum CommandBit : unsigned {
  kName = 1,
  kLast = 2,
  kCache = 4,
  kRange = 8,
  kFetch = 16,
  kAll = 31,
};

struct CommandSpec {
  const char* name;
  unsigned bit;
  size_t minArgs;
  size_t maxArgs;
};

const CommandSpec kCommands[] = {
    {"name", kName, 0, 0},   {"last", kLast, 2, SIZE_MAX},   {"cache", kCache, 2, 2},
    {"range", kRange, 2, 2}, {"fetch", kFetch, 2, SIZE_MAX},
};

struct OptionSpec {
  const char* name;
  bool takesValue;
  unsigned commands;
};

const OptionSpec kOptions[] = {
    {"--server", true, kAll},
    {"--config", true, kAll},
    {"--set", true, kAll},
    {"--format", true, kAll},
    {"--log-level", true, kAll},
    {"--log-config", true, kAll},
    {"--log-time", false, kAll},
    {"--plugin", true, kAll},
    {"--help", false, kAll},
    {"--begin", true, kRange | kFetch},
    {"--end", true, kRange | kFetch},
    {"--max", true, kRange | kFetch},
    {"--by-mtime", false, kFetch},
    {"--threads", true, kFetch},
    {"--progress", true, kFetch},
};

const CommandSpec* findCommand(const std::string& name) {
  for (const CommandSpec& c : kCommands) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

const OptionSpec* findOption(const std::string& name) {
  for (const OptionSpec& o : kOptions) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

bool parseInt32(const std::string& text, int32_t& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  try {
    const long long v = std::stoll(text);
    if (v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool isLogLevel(const std::string& level) {
  static const char* kLevels[] = {"trace", "debug", "info", "warn", "error", "fatal", "off"};
  return std::find_if(std::begin(kLevels), std::end(kLevels),
                      [&](const char* l) { return level == l; }) != std::end(kLevels);
}

// Collects the raw words: options with their values, and the positional words in order.
class Collector {
 public:
  std::string error;
  bool help = false;
  std::vector<std::string> positional;
  std::vector<std::pair<const OptionSpec*, std::string>> options;

  bool collect(const std::vector<std::string>& args) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string& word = args[i];
      if (optionsEnded || word.size() < 2 || word[0] != '-') {
        positional.push_back(word);
      } else if (word == "--") {
        optionsEnded = true;
      } else if (word == "-h" || word == "--help") {
        help = true;
      } else if (!collectOption(args, i)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool collectOption(const std::vector<std::string>& args, size_t& i) {
    const std::string& word = args[i];
    const size_t eq = word.find('=');
    const std::string name = word.substr(0, eq);
    const OptionSpec* def = findOption(name);
    if (def == nullptr) {
      error = "unknown option " + name;
      return false;
    }
    std::string value;
    if (!def->takesValue) {
      if (eq != std::string::npos) {
        error = "option " + name + " takes no value";
        return false;
      }
    } else if (eq != std::string::npos) {
      value = word.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      error = "option " + name + " needs a value";
      return false;
    }
    options.emplace_back(def, value);
    return true;
  }
};

class Interpreter {
 public:
  explicit Interpreter(CliOptions& options) : o_(options) {}
  std::string error;

  // Applies one option's value; false with `error` set when the value is not acceptable.
  bool apply(const std::string& name, const std::string& value) {
    if (name == "--server") return assign(o_.server, value, name);
    if (name == "--config") return assign(o_.configFile, value, name);
    if (name == "--plugin") return assign(o_.pluginPath, value, name);
    if (name == "--log-config") return assign(o_.logConfig, value, name);
    if (name == "--log-time") return flag(o_.logTime);
    if (name == "--by-mtime") return flag(o_.byModifyTime);
    if (name == "--set") return applySetting(value);
    if (name == "--format") return check(parseOutputFormat(value, o_.format), name, value);
    if (name == "--log-level") return applyLogLevel(value);
    if (name == "--progress") return applyProgress(value);
    if (name == "--begin") return seen(name) && check(parseTime(value, o_.beginTime), name, value);
    if (name == "--end") return seen(name) && check(parseTime(value, o_.endTime), name, value);
    if (name == "--max") {
      return seen(name) && check(parseInt32(value, o_.maxCount) && o_.maxCount > 0, name, value);
    }
    if (name == "--threads") {
      return check(parseInt32(value, o_.threads) && o_.threads >= 1 && o_.threads <= 64, name,
                   value);
    }
    return true;
  }

  bool wasGiven(const std::string& name) const { return given_.count(name) != 0; }

 private:
  bool assign(std::string& field, const std::string& value, const std::string& name) {
    field = value;
    return check(!value.empty(), name, value);
  }
  static bool flag(bool& field) {
    field = true;
    return true;
  }
  bool seen(const std::string& name) {
    given_[name] = true;
    return true;
  }
  bool check(bool ok, const std::string& name, const std::string& value) {
    if (!ok) error = "invalid value '" + value + "' for " + name;
    return ok;
  }
  bool applySetting(const std::string& value) {
    const size_t eq = value.find('=');
    if (eq == 0 || eq == std::string::npos) {
      error = "--set needs key=value, got '" + value + "'";
      return false;
    }
    o_.settings.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    return true;
  }
  bool applyLogLevel(const std::string& value) {
    std::string lower = value;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    o_.logLevel = lower;
    return check(isLogLevel(lower), "--log-level", value);
  }
  bool applyProgress(const std::string& value) {
    if (value == "auto") {
      o_.progress = ProgressMode::Auto;
    } else if (value == "always") {
      o_.progress = ProgressMode::Always;
    } else if (value == "never") {
      o_.progress = ProgressMode::Never;
    } else {
      return check(false, "--progress", value);
    }
    return true;
  }

  CliOptions& o_;
  std::map<std::string, bool> given_;
};

ParsedCommandLine failure(std::string error, std::string command) {
  ParsedCommandLine parsed;
  parsed.kind = ParsedCommandLine::Kind::Error;
  parsed.error = std::move(error);
  parsed.helpCommand = std::move(command);
  return parsed;
}

// The range and fetch commands need a time range; range also a count. fetch --by-mtime pages
// through everything modified in the range, so a count means nothing there.
std::string checkRequired(const CliOptions& o, const Interpreter& in) {
  if (o.command != "range" && o.command != "fetch") return "";
  if (!in.wasGiven("--begin") || !in.wasGiven("--end")) return "--begin and --end are required";
  if (o.beginTime > o.endTime) return "--begin is after --end";
  if (!in.wasGiven("--max") && !(o.command == "fetch" && o.byModifyTime)) {
    return "--max is required";
  }
  return "";
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  Collector collector;
  const bool collected = collector.collect(args);
  std::vector<std::string>& words = collector.positional;
  // "help [COMMAND]" is the same as "[COMMAND] --help".
  if (!words.empty() && words[0] == "help") {
    words.erase(words.begin());
    collector.help = true;
  }
  const std::string command = words.empty() ? "" : words[0];
  const CommandSpec* def = findCommand(command);
  if (collector.help) {
    ParsedCommandLine parsed;
    parsed.kind = ParsedCommandLine::Kind::Help;
    parsed.helpCommand = def ? command : "";
    return parsed;
  }
  if (!collected) return failure(collector.error, def ? command : "");
  if (command.empty()) return failure("no command given", "");
  if (def == nullptr) return failure("unknown command '" + command + "'", "");

  ParsedCommandLine parsed;
  CliOptions& o = parsed.options;
  o.command = command;
  o.args.assign(words.begin() + 1, words.end());
  if (o.args.size() < def->minArgs || o.args.size() > def->maxArgs) {
    return failure("wrong number of arguments for '" + command + "'", command);
  }
  Interpreter interpreter(o);
  for (const auto& [option, value] : collector.options) {
    if ((option->commands & def->bit) == 0) {
      return failure(std::string("option ") + option->name + " does not apply to '" + command + "'",
                     command);
    }
    if (!interpreter.apply(option->name, value)) return failure(interpreter.error, command);
  }
  const std::string missing = checkRequired(o, interpreter);
  if (!missing.empty()) return failure(missing, command);
  parsed.kind = ParsedCommandLine::Kind::Run;
  return parsed;
}

std::string usageText(const std::string& command) {
  static const char* kGlobal =
      "Options of every command:\n"
      "  --server URL        the history service (default: the configuration key \"server\")\n"
      "  --config FILE       key=value configuration: fc_key, fc_secret, token, user, product,\n"
      "                      product_number, version, mac (or kvmacaddress), server\n"
      "  --set KEY=VALUE     a configuration value; overrides --config; may be repeated\n"
      "  --format FORMAT     csv (default), json or table\n"
      "  --log-level LEVEL   trace, debug, info, warn (default), error, fatal or off\n"
      "  --log-config FILE   a log4cxx properties file instead of --log-level\n"
      "  --log-time          date-time prefix on the plug-in's log lines\n"
      "  --plugin PATH       the plug-in library to load (default: the one built with this\n"
      "                      program)\n"
      "  -h, --help          this text, or with a command, that command's usage\n"
      "Times are ISO-8601 date-times (2024-01-02T09:30:00Z; UTC unless an offset is given) or\n"
      "plain nanoseconds since 1970.\n";
  static const std::map<std::string, std::string> kUsage = {
      {"name",
       "Usage: orvex_cli name [options]\n"
       "Prints the name of the history service.\n"},
      {"last",
       "Usage: orvex_cli last KEY TARGET... [options]\n"
       "Prints the latest record of each TARGET for the topic KEY.\n"},
      {"cache",
       "Usage: orvex_cli cache KEY TARGET [options]\n"
       "Prints the cached latest record of one topic.\n"},
      {"range",
       "Usage: orvex_cli range KEY TARGET --begin T --end T --max N [options]\n"
       "Prints the latest N records of TARGET in [begin, end], in ascending time order.\n"},
      {"fetch",
       "Usage: orvex_cli fetch KEY TARGET... --begin T --end T --max N [--by-mtime]\n"
       "                       [--threads N] [--progress auto|always|never] [options]\n"
       "Fetches records asynchronously and prints each batch as it is delivered (the newest\n"
       "block first; records within a batch in ascending time). Without --by-mtime each TARGET\n"
       "is one request of at most N records by record time; with it, one request pages through\n"
       "the records of all TARGETs modified between begin and end (--max is then optional).\n"
       "  --threads N         worker pools and concurrent requests (1-64, default 1)\n"
       "  --progress MODE     progress line on standard error: auto (when it is a terminal),\n"
       "                      always or never\n"
       "Ctrl-C ends the fetch after the batch in progress; a second Ctrl-C exits at once.\n"},
  };
  const auto it = kUsage.find(command);
  if (it != kUsage.end()) return it->second + "\n" + kGlobal;
  return std::string(
             "Usage: orvex_cli COMMAND [arguments] [options]\n"
             "A command-line host of the orvex history plug-in.\n\n"
             "Commands:\n"
             "  name                               the service's name\n"
             "  last KEY TARGET...                 latest record of each target\n"
             "  cache KEY TARGET                   cached latest record of one topic\n"
             "  range KEY TARGET --begin T --end T --max N\n"
             "                                     records of one target over a time range\n"
             "  fetch KEY TARGET... --begin T --end T --max N [--by-mtime] [--threads N]\n"
             "                                     asynchronous fetch, printed as delivered\n"
             "  help [COMMAND]                     usage of a command\n\n") +
         kGlobal +
         "\nExit status: 0 success, 1 a failed call (the result code and message are printed),\n"
         "2 bad arguments or configuration, 130 a fetch interrupted by Ctrl-C.\n";
}

}  // namespace cli
}  // namespace orvex
