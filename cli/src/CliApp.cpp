#include "CliApp.h"

#include <cstdlib>
#include <thread>

#include "DownloadCommand.h"
#include "FetchCommand.h"
#include "HostSetup.h"
#include "LookupCommands.h"
#include "PluginLoader.h"
#include "Supervisor.h"

namespace orvex {
namespace cli {

int CliApp::run(const std::vector<std::string>& args) {
  const ParsedCommandLine parsed = parseCommandLine(args);
  if (parsed.kind == ParsedCommandLine::Kind::Error) {
    io_.err << "orvex_cli: " << parsed.text << "\n";
    return kExitUsage;
  }
  if (parsed.kind != ParsedCommandLine::Kind::Run) {
    io_.out << parsed.text << std::flush;
    return io_.out.good() ? kExitOk : kExitFailure;
  }
  const CliOptions& options = parsed.options;
  outcome_ = std::make_unique<Outcome>(io_.err);
  std::string address;
  if (int code = prepareHost(options, address); code != kExitOk) return code;

  progress_ = std::make_unique<ProgressLine>(io_.err, progressEnabled(options));
  InterruptFlag interrupt;
  if (options.command != "name" && options.command != "download") {
    const bool streaming = options.command == "fetch";
    sink_ = std::make_unique<RecordSink>(makeRecordWriter(options.format, io_.out, streaming),
                                         io_.out, io_.outBuffer);
    sink_->setOnWriteError([&interrupt] { interrupt.cancel(); });
    // Records and the progress line on one terminal: the line goes before the records come.
    if (io_.sameTerminal) sink_->setBeforeWrite([this] { progress_->clear(); });
  }
  const std::optional<int> code =
      Supervisor::run(interrupt, [&] { return session(options, address, interrupt); });
  if (!code) abandon();
  return *code;
}

int CliApp::prepareHost(const CliOptions& options, std::string& address) {
  std::vector<std::string> warnings;
  std::string error = configureLogging(options);
  if (error.empty()) error = configureEnvironment(options, warnings);
  for (const std::string& warning : warnings) outcome_->warn(warning);
  if (!error.empty()) {
    io_.err << "orvex_cli: " << error << "\n";
    return kExitUsage;
  }
  address = serviceAddress(options);
  if (address.empty()) {
    io_.err << "orvex_cli: no service address: give --server URL, set ORVEX_SERVER or \"server\" "
               "in the configuration\n";
    return kExitUsage;
  }
  installAuthService();
  return kExitOk;
}

int CliApp::session(const CliOptions& options, const std::string& address,
                    InterruptFlag& interrupt) {
  std::unique_ptr<IHistoryApi> api;
  if (int code = openApi(options, address, api); code != kExitOk) return code;
  CommandContext context{*api, options, io_, *outcome_, interrupt, *progress_, sink_.get()};
  runCommand(context);
  api->release();
  api.reset();
  return finishCommand(context);
}

int CliApp::openApi(const CliOptions& options, const std::string& address,
                    std::unique_ptr<IHistoryApi>& api) {
  const std::string path =
      options.pluginPath.empty() ? PluginLoader::defaultPath() : options.pluginPath;
  const std::string error = PluginLoader::load(path);
  if (!error.empty()) {
    outcome_->error(error);
    return kExitFailure;
  }
  api = PluginLoader::create(kHistoryTypeId);
  if (!api) {
    outcome_->error(path + " registered no history implementation under type id " +
                    std::to_string(kHistoryTypeId));
    return kExitFailure;
  }
  const int32_t pools = options.command == "download" ? options.jobs : options.threads;
  const ResultStatus init = api->init(pools);
  if (!init.ok()) outcome_->failed("init", init);
  ResultStatus connected = init.ok() ? api->connect(address) : init;
  // A download rides out a service that is briefly unreachable, as its partitions do.
  for (int attempt = 1; init.ok() && !connected.ok() && options.command == "download" &&
                        attempt <= options.retries && DownloadCommand::isRetryable(connected);
       ++attempt) {
    std::this_thread::sleep_for(DownloadCommand::backoff(attempt));
    connected = api->connect(address);
  }
  if (init.ok() && !connected.ok()) outcome_->failed("cannot connect to " + address, connected);
  return connected.ok() ? kExitOk : outcome_->exitCode(false);
}

void CliApp::runCommand(CommandContext& context) {
  const std::string& command = context.options.command;
  if (command == "name") {
    LookupCommands::name(context);
  } else if (command == "last") {
    LookupCommands::last(context);
  } else if (command == "cache") {
    LookupCommands::cache(context);
  } else if (command == "range") {
    LookupCommands::range(context);
  } else if (command == "fetch") {
    FetchCommand(context).run();
  } else {
    DownloadCommand(context).run();
  }
}

int CliApp::finishCommand(const CommandContext& context) {
  const uint64_t records = sink_ ? sink_->records() : 0;
  if (sink_ && !sink_->finish()) outcome_->error(sink_->writeError());
  if (context.interrupt.interrupted()) {
    outcome_->interrupted();
    // A download has said what it left undone.
    if (sink_)
      io_.err << "orvex_cli: interrupted: " << groupDigits(records) << " records received\n";
  }
  // A download's results are its files: a failed partition leaves the others complete.
  return outcome_->exitCode(records > 0 || context.options.command == "download");
}

void CliApp::abandon() {
  if (sink_) sink_->close();
  progress_->finish();
  io_.err << "orvex_cli: interrupted: ";
  if (sink_) io_.err << groupDigits(sink_->records()) << " records received; ";
  io_.err << "the request in progress was abandoned" << std::endl;
  // The command's thread is still inside the plug-in: nothing may be torn down under it.
  std::_Exit(kExitInterrupted);
}

bool CliApp::progressEnabled(const CliOptions& options) const {
  switch (options.progress) {
    case ProgressMode::Always:
      return true;
    case ProgressMode::Never:
      return false;
    case ProgressMode::Auto:
      break;
  }
  return io_.errIsTerminal;
}

}  // namespace cli
}  // namespace orvex
