// The command-line host: parses the command line, sets up the process as a host does, loads the
// plug-in, creates a history object through the factory, runs one command and tears it down.
//
// One CliApp runs one command; the process-wide set-up (logging, configuration, the loaded
// plug-in) stays behind, so run it once per process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "orvex/IHistoryApi.h"

namespace orvex {
namespace cli {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,        // a call failed; its code and message were printed
  kExitUsage = 2,          // bad arguments or configuration; usage was printed
  kExitInterrupted = 130,  // a fetch ended by Ctrl-C
};

// Where a command writes: records to `out`, messages and the progress line to `err`.
struct CliStreams {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal;
};

class CliApp {
 public:
  explicit CliApp(CliStreams streams) : io_(streams) {}

  // Runs the command of `args` (the arguments after the program name); returns the exit code.
  int run(const std::vector<std::string>& args);

 private:
  int usageError(const std::string& error, const std::string& command);
  int prepareHost(const CliOptions& options, std::string& address);
  int openApi(const CliOptions& options, const std::string& address,
              std::unique_ptr<IHistoryApi>& api);
  int runCommand(IHistoryApi& api, const CliOptions& options);
  int runName(IHistoryApi& api, const CliOptions& options);
  int runLast(IHistoryApi& api, const CliOptions& options);
  int runCache(IHistoryApi& api, const CliOptions& options);
  int runRange(IHistoryApi& api, const CliOptions& options);
  int failed(const std::string& what, const ResultStatus& status);

  CliStreams io_;
};

// "EN_ICE_NET_ERROR: <message in UTF-8>".
std::string describeStatus(const ResultStatus& status);

}  // namespace cli
}  // namespace orvex
