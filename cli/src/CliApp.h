// The command-line host: parses the command line, sets up the process as a host does, loads the
// plug-in, creates a history object through the factory, runs one command and tears it down.
//
// The command runs on a thread of its own while the main thread watches Ctrl-C (Supervisor);
// when it has to be abandoned, run() ends the process itself after the whole lines already
// written and the summary. One CliApp runs one command; the process-wide set-up (logging,
// configuration, the loaded plug-in) stays behind, so run it once per process.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "FdStreamBuf.h"
#include "InterruptFlag.h"
#include "Outcome.h"
#include "ProgressLine.h"
#include "RecordSink.h"
#include "orvex/IHistoryApi.h"

namespace orvex {
namespace cli {

// Where a command writes: records to `out`, messages and the progress line to `err`.
struct CliStreams {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  bool sameTerminal = false;               // out and err are one terminal
  const FdStreamBuf* outBuffer = nullptr;  // `out`'s buffer, to tell why a write failed
};

// What a command works with: the history object, the options and the program's outputs.
struct CommandContext {
  IHistoryApi& api;
  const CliOptions& options;
  CliStreams io;
  Outcome& outcome;
  InterruptFlag& interrupt;
  ProgressLine& progress;
  RecordSink* sink;  // null for commands that print no records
};

class CliApp {
 public:
  explicit CliApp(CliStreams streams) : io_(streams) {}

  // Runs the command of `args` (the arguments after the program name); returns the exit code.
  int run(const std::vector<std::string>& args);

 private:
  int prepareHost(const CliOptions& options, std::string& address);
  int session(const CliOptions& options, const std::string& address, InterruptFlag& interrupt);
  int openApi(const CliOptions& options, const std::string& address,
              std::unique_ptr<IHistoryApi>& api);
  void runCommand(CommandContext& context);
  int finishCommand(const CommandContext& context);
  [[noreturn]] void abandon();
  bool progressEnabled(const CliOptions& options) const;

  CliStreams io_;
  std::unique_ptr<Outcome> outcome_;
  std::unique_ptr<RecordSink> sink_;
  std::unique_ptr<ProgressLine> progress_;
};

}  // namespace cli
}  // namespace orvex
