#include "CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <climits>

#include "TimeText.h"

namespace orvex {
namespace cli {
namespace {

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

constexpr const char* kExitStatusText =
    "Times: ISO-8601 date-times (2024-06-04T01:30:00Z; UTC unless an offset is given) or\n"
    "nanoseconds since 1970.\n"
    "Exit status: 0 complete; 1 failed; 2 usage error; 3 incomplete (records were printed but the\n"
    "result is known to be short); 4 refused by the service (HTTP 401 or 403: check token, key\n"
    "and secret); 130 interrupted.\n"
    "Configuration, later wins: the file ($XDG_CONFIG_HOME/orvex/orvex.conf or --config FILE),\n"
    "ORVEX_<KEY> environment variables (ORVEX_SERVER, ORVEX_TOKEN, ORVEX_FC_KEY, ...), --set.\n";

const CLI::Validator kTime(
    [](std::string& text) {
      int64_t ns = 0;
      return parseTime(text, ns) ? std::string() : "not an ISO-8601 date-time or nanoseconds";
    },
    "TIME");

const CLI::Validator kSetting(
    [](std::string& text) {
      const size_t eq = text.find('=');
      return eq == 0 || eq == std::string::npos ? std::string("expected KEY=VALUE") : "";
    },
    "KEY=VALUE");

const CLI::Validator kShard(
    [](std::string& text) {
      int k = -1, n = 0;
      char tail = 0;
      const bool ok =
          std::sscanf(text.c_str(), "%d/%d%c", &k, &n, &tail) == 2 && n >= 1 && k >= 0 && k < n;
      return ok ? std::string() : "expected K/N with 0 <= K < N";
    },
    "K/N");

// The raw words of the options that need converting after the parse.
struct RawOptions {
  std::string format = "csv";
  std::string downloadFormat = "csv.gz";
  std::string progress = "auto";
  std::string begin;
  std::string end;
  std::string shard = "0/1";
  std::vector<std::string> settings;
};

class CommandLineParser {
 public:
  CommandLineParser() : app_("A command-line host of the orvex history plug-in.", "orvex_cli") {
    app_.set_version_flag("--version", versionText());
    app_.require_subcommand(1);
    app_.footer(kExitStatusText);
    addGlobalOptions();
    addCommands();
  }

  ParsedCommandLine parse(std::vector<std::string> args) {
    ParsedCommandLine parsed;
    // "help [COMMAND]" is "[COMMAND] --help".
    if (!args.empty() && args[0] == "help") {
      args.erase(args.begin());
      args.push_back("--help");
    }
    std::reverse(args.begin(), args.end());  // CLI11 takes them last first
    try {
      app_.parse(args);
      finish(parsed.options);
      parsed.kind = ParsedCommandLine::Kind::Run;
    } catch (const CLI::CallForHelp&) {
      parsed.kind = ParsedCommandLine::Kind::Help;
      parsed.text = app_.help();
    } catch (const CLI::CallForAllHelp&) {
      parsed.kind = ParsedCommandLine::Kind::Help;
      parsed.text = app_.help();
    } catch (const CLI::CallForVersion&) {
      parsed.kind = ParsedCommandLine::Kind::Version;
      parsed.text = versionText() + "\n";
    } catch (const CLI::ParseError& e) {
      parsed.text = hint(e.what());
    } catch (const std::invalid_argument& e) {
      parsed.text = hint(e.what());
    }
    return parsed;
  }

 private:
  void addGlobalOptions() {
    app_.add_option("--server", o_.server,
                    "the history service (default: configuration \"server\")");
    app_.add_option("--config", o_.configFile, "key=value configuration file")
        ->check(CLI::ExistingFile);
    app_.add_option("--set", raw_.settings, "a configuration value; may be repeated")
        ->allow_extra_args(false)
        ->check(kSetting);
    app_.add_option("--format", raw_.format, "csv (default), json or table")
        ->check(CLI::IsMember({"csv", "json", "table"}));
    app_.add_option("--log-level", o_.logLevel,
                    "trace, debug, info, warn (default), error, fatal, off")
        ->transform(CLI::IsMember({"trace", "debug", "info", "warn", "error", "fatal", "off"},
                                  CLI::ignore_case));
    app_.add_option("--log-config", o_.logConfig, "a log4cxx properties file")
        ->check(CLI::ExistingFile);
    app_.add_flag("--log-time", o_.logTime, "date-time prefix on the plug-in's log lines");
    app_.add_option("--plugin", o_.pluginPath, "the plug-in library to load");
  }

  CLI::App* command(const std::string& name, const std::string& description) {
    CLI::App* sub = app_.add_subcommand(name, description);
    sub->fallthrough();  // options of every command may follow the command
    sub->footer(
        std::string("Options of every command (see orvex_cli --help): --server, --config, "
                    "--set,\n--format, --log-level, --log-config, --log-time, --plugin.\n") +
        kExitStatusText);
    return sub;
  }

  void addKeyTargets(CLI::App* sub, bool oneTarget) {
    sub->add_option("KEY", key_, "the topic key")->required();
    if (oneTarget) {
      sub->add_option("TARGET", target_, "the target code")->required();
    } else {
      sub->add_option("TARGET", targets_, "target codes")->required();
    }
  }

  void addTimeRange(CLI::App* sub) {
    sub->add_option("--begin", raw_.begin, "start of the range")->required()->check(kTime);
    sub->add_option("--end", raw_.end, "end of the range")->required()->check(kTime);
  }

  void addCommands() {
    command("name", "the service's name");
    addKeyTargets(command("last", "the latest record of each target"), false);
    addKeyTargets(command("cache", "the cached latest record of one topic"), true);

    CLI::App* range = command("range", "the latest N records of one target in [begin, end]");
    addKeyTargets(range, true);
    addTimeRange(range);
    range->add_option("--max", o_.maxCount, "largest number of records")
        ->required()
        ->check(CLI::Range(1, INT32_MAX));

    CLI::App* fetch = command("fetch", "asynchronous fetch, each batch printed as delivered");
    addKeyTargets(fetch, false);
    addTimeRange(fetch);
    CLI::Option* byMtime =
        fetch->add_flag("--by-mtime", o_.byModifyTime, "page through records modified in range");
    fetch->add_option("--max", o_.maxCount, "largest number of records per target")
        ->check(CLI::Range(1, INT32_MAX))
        ->excludes(byMtime);
    fetch->add_option("--threads", o_.threads, "worker pools and concurrent requests (1-64)")
        ->check(CLI::Range(1, 64));
    fetch->add_option("--progress", raw_.progress, "progress line: auto, always or never")
        ->check(CLI::IsMember({"auto", "always", "never"}));

    CLI::App* download = command(
        "download", "partitioned download into DIR/KEY/TARGET/YYYY-MM-DD.csv.gz, resumable");
    addKeyTargets(download, false);
    addTimeRange(download);
    download->add_option("--out", o_.outDir, "the download directory")->required();
    download->add_option("--jobs", o_.jobs, "partitions fetched at once (1-64, default 4)")
        ->check(CLI::Range(1, 64));
    download
        ->add_option("--retries", o_.retries,
                     "failed attempts in a row without progress (default 3)")
        ->check(CLI::Range(0, 100));
    download->add_option("--format", raw_.downloadFormat, "csv.gz (default) or csv")
        ->check(CLI::IsMember({"csv.gz", "csv"}));
    download->add_option("--shard", raw_.shard, "only partitions whose index modulo N is K")
        ->check(kShard);
    download->add_option("--progress", raw_.progress, "progress line: auto, always or never")
        ->check(CLI::IsMember({"auto", "always", "never"}));
  }

  // Converts what CLI11 left as words; throws std::invalid_argument on what it cannot check.
  void finish(CliOptions& o) {
    o = o_;
    const CLI::App* sub = app_.get_subcommands().front();
    o.command = sub->get_name();
    if (o.command != "name") {
      o.args.push_back(key_);
      if (targets_.empty()) o.args.push_back(target_);  // a one-target command
      o.args.insert(o.args.end(), targets_.begin(), targets_.end());
    }
    for (const std::string& name : o.args) {
      // Names travel comma-joined, so "a,b" would quietly become two; none holds a control
      // character.
      if (name.empty() || name.find(',') != std::string::npos ||
          std::any_of(name.begin(), name.end(), isControl)) {
        throw std::invalid_argument("'" + name + "' is not a key or target code");
      }
      // download makes --out/KEY/TARGET: a name must stay one directory below --out.
      if (o.command == "download" &&
          (name == "." || name == ".." || name.find('/') != std::string::npos)) {
        throw std::invalid_argument("'" + name + "' cannot name a directory of the download");
      }
    }
    if (o.command == "download" && app_.count("--format") > 0) {
      // The printed-record format means nothing to files; taking it silently would mislead.
      throw std::invalid_argument("download's --format (csv.gz or csv) goes after 'download'");
    }
    parseOutputFormat(raw_.format, o.format);
    o.gzip = raw_.downloadFormat == "csv.gz";
    o.progress = raw_.progress == "always"  ? ProgressMode::Always
                 : raw_.progress == "never" ? ProgressMode::Never
                                            : ProgressMode::Auto;
    std::transform(o.logLevel.begin(), o.logLevel.end(), o.logLevel.begin(), ::tolower);
    std::sscanf(raw_.shard.c_str(), "%d/%d", &o.shardIndex, &o.shardCount);
    for (const std::string& s : raw_.settings) {
      const size_t eq = s.find('=');
      o.settings.emplace_back(s.substr(0, eq), s.substr(eq + 1));
    }
    if (!raw_.begin.empty()) parseTime(raw_.begin, o.beginTime);
    if (!raw_.end.empty()) parseTime(raw_.end, o.endTime);
    if (o.beginTime > o.endTime) throw std::invalid_argument("--begin is after --end");
    if (o.command == "fetch" && !o.byModifyTime && o.maxCount == 0) {
      throw std::invalid_argument("--max is required without --by-mtime");
    }
  }

  // One line, whatever the arguments it quotes hold: control characters show as '?'.
  std::string hint(std::string error) const {
    const auto subs = app_.get_subcommands();
    const std::string help =
        subs.empty() ? "orvex_cli --help" : "orvex_cli " + subs.front()->get_name() + " --help";
    while (!error.empty() && (error.back() == '\n' || error.back() == '\r')) error.pop_back();
    for (char& c : error) {
      if (isControl(c)) c = '?';
    }
    return error + " (see '" + help + "')";
  }

  CLI::App app_;
  CliOptions o_;
  RawOptions raw_;
  std::string key_;
  std::string target_;
  std::vector<std::string> targets_;
};

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  return CommandLineParser().parse(args);
}

std::string versionText() { return std::string("orvex_cli ") + ORVEX_VERSION; }

}  // namespace cli
}  // namespace orvex
