// What the command line sets up in the process before it loads the plug-in, as a host would:
// logging, the configuration and the authentication service.
//
// Call from the main thread before any request runs.
#pragma once

#include <string>

#include "CommandLine.h"

namespace orvex {
namespace cli {

// Configures log4cxx: the properties file `options.logConfig` when given, otherwise a console
// appender on standard error with the plug-in's lines as they stand, at `options.logLevel`.
// Turns the log lines' date-time prefix on with `options.logTime`. Returns an empty text on
// success, otherwise what went wrong.
std::string configureLogging(const CliOptions& options);

// Loads `options.configFile` into vantor::Environment, then applies the --set values in order.
// The key "mac" is taken as "kvmacaddress". Returns an empty text on success, otherwise what
// went wrong (nothing of a failed file is applied).
std::string configureEnvironment(const CliOptions& options);

// Installs orvex::ConfigAuthService (its token is the configuration key "token") as the
// process's authentication service.
void installAuthService();

// The service address: --server, else the configuration key "server"; empty when neither is set.
std::string serviceAddress(const CliOptions& options);

}  // namespace cli
}  // namespace orvex
