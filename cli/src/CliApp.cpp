#include "CliApp.h"

#include "DisplayText.h"
#include "FetchCommand.h"
#include "HostSetup.h"
#include "PluginLoader.h"
#include "RecordWriter.h"

namespace orvex {
namespace cli {
namespace {

constexpr const char* kProgram = "orvex_cli";

// Escapes what JSON needs for the server name line.
std::string jsonQuoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string describeStatus(const ResultStatus& status) {
  std::string text = codeName(status.code);
  if (!status.msg.empty()) text += ": " + messageText(status.msg);
  return text;
}

int CliApp::run(const std::vector<std::string>& args) {
  const ParsedCommandLine parsed = parseCommandLine(args);
  if (parsed.kind == ParsedCommandLine::Kind::Help) {
    io_.out << usageText(parsed.helpCommand);
    return kExitOk;
  }
  if (parsed.kind == ParsedCommandLine::Kind::Error) {
    return usageError(parsed.error, parsed.helpCommand);
  }
  const CliOptions& options = parsed.options;
  std::string address;
  if (int code = prepareHost(options, address); code != kExitOk) return code;
  std::unique_ptr<IHistoryApi> api;
  if (int code = openApi(options, address, api); code != kExitOk) return code;
  const int code = runCommand(*api, options);
  api->release();
  api.reset();
  return code;
}

int CliApp::usageError(const std::string& error, const std::string& command) {
  io_.err << kProgram << ": " << error << "\n\n" << usageText(command);
  return kExitUsage;
}

int CliApp::prepareHost(const CliOptions& options, std::string& address) {
  std::string error = configureLogging(options);
  if (error.empty()) error = configureEnvironment(options);
  if (!error.empty()) {
    io_.err << kProgram << ": " << error << "\n";
    return kExitUsage;
  }
  address = serviceAddress(options);
  if (address.empty()) {
    return usageError("no service address: give --server URL or set \"server\" in --config",
                      options.command);
  }
  installAuthService();
  return kExitOk;
}

int CliApp::openApi(const CliOptions& options, const std::string& address,
                    std::unique_ptr<IHistoryApi>& api) {
  const std::string path =
      options.pluginPath.empty() ? PluginLoader::defaultPath() : options.pluginPath;
  const std::string error = PluginLoader::load(path);
  if (!error.empty()) {
    io_.err << kProgram << ": " << error << "\n";
    return kExitFailure;
  }
  api = PluginLoader::create(kHistoryTypeId);
  if (!api) {
    io_.err << kProgram << ": " << path << " registered no history implementation under type id "
            << kHistoryTypeId << "\n";
    return kExitFailure;
  }
  const ResultStatus init = api->init(options.threads);
  if (!init.ok()) return failed("init", init);
  const ResultStatus connected = api->connect(address);
  if (!connected.ok()) return failed("cannot connect to " + address, connected);
  return kExitOk;
}

int CliApp::runCommand(IHistoryApi& api, const CliOptions& options) {
  if (options.command == "name") return runName(api, options);
  if (options.command == "last") return runLast(api, options);
  if (options.command == "cache") return runCache(api, options);
  if (options.command == "range") return runRange(api, options);
  return FetchCommand(api, options, io_).run();
}

int CliApp::runName(IHistoryApi& api, const CliOptions& options) {
  const std::string name = fieldText(api.getServerName());
  if (options.format == OutputFormat::Json) {
    io_.out << "{\"name\":" << jsonQuoted(name) << "}\n";
  } else {
    io_.out << name << "\n";
  }
  return kExitOk;
}

int CliApp::runLast(IHistoryApi& api, const CliOptions& options) {
  const std::vector<std::string> targets(options.args.begin() + 1, options.args.end());
  std::vector<CloudTopic> topics;
  const ResultStatus status = api.getLastData(options.args[0], targets, topics);
  // Batches that succeeded are printed even when another failed.
  auto writer = makeRecordWriter(options.format, io_.out, false);
  writer->write(topics);
  writer->finish();
  return status.ok() ? kExitOk : failed("last", status);
}

int CliApp::runCache(IHistoryApi& api, const CliOptions& options) {
  CloudTopic topic;
  const ResultStatus status = api.getDataCache(TopicKey{options.args[1], options.args[0]}, topic);
  if (!status.ok()) return failed("cache", status);
  auto writer = makeRecordWriter(options.format, io_.out, false);
  writer->write({topic});
  writer->finish();
  return kExitOk;
}

int CliApp::runRange(IHistoryApi& api, const CliOptions& options) {
  CloudTopic topic;
  const ResultStatus status =
      api.getData(TopicKey{options.args[1], options.args[0]}, options.beginTime, options.endTime,
                  options.maxCount, topic);
  // What arrived before a failure is printed too.
  auto writer = makeRecordWriter(options.format, io_.out, false);
  writer->write({topic});
  writer->finish();
  return status.ok() ? kExitOk : failed("range", status);
}

int CliApp::failed(const std::string& what, const ResultStatus& status) {
  io_.err << kProgram << ": " << what << ": " << describeStatus(status) << "\n";
  return kExitFailure;
}

}  // namespace cli
}  // namespace orvex
