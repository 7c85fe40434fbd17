// What the command line sets up in the process before it loads the plug-in, as a host would:
// logging, the configuration and the authentication service.
//
// Call from the main thread before any request runs.
#pragma once

#include <string>
#include <vector>

#include "CommandLine.h"

namespace orvex {
namespace cli {

// Configures log4cxx: the properties file `options.logConfig` when given, otherwise a console
// appender on standard error with the plug-in's lines as they stand, at `options.logLevel`.
// Turns the log lines' date-time prefix on with `options.logTime`. Returns an empty text on
// success, otherwise what went wrong.
std::string configureLogging(const CliOptions& options);

// Fills vantor::Environment; later sources win: the configuration file (`options.configFile`,
// else defaultConfigFile() when it exists), then the environment variables ORVEX_<KEY> (the key
// in upper case: ORVEX_SERVER, ORVEX_TOKEN, ORVEX_FC_KEY, ...), then the --set values in order.
// The file holds key=value lines; blank lines, "#" comments and a UTF-8 byte-order mark are
// skipped, and each unknown key adds a line to `warnings`. The key "mac" is taken as
// "kvmacaddress". Returns an empty text on success, otherwise what went wrong (nothing of a
// failed file is applied).
std::string configureEnvironment(const CliOptions& options, std::vector<std::string>& warnings);

// $XDG_CONFIG_HOME/orvex/orvex.conf, or ~/.config/orvex/orvex.conf without XDG_CONFIG_HOME.
std::string defaultConfigFile();

// Installs orvex::ConfigAuthService (its token is the configuration key "token") as the
// process's authentication service.
void installAuthService();

// The service address: --server, else the configuration key "server"; empty when neither is set.
std::string serviceAddress(const CliOptions& options);

}  // namespace cli
}  // namespace orvex
