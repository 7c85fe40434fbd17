#include "hqserver/ServerOptions.h"

#include <CLI/CLI.hpp>
#include <climits>
#include <memory>

#include "hqserver/QueryService.h"

namespace orvex {
namespace hqserver {

namespace {

std::string programName(int argc, const char* const* argv) {
  const std::string path = argc > 0 && argv[0] != nullptr ? argv[0] : "orvex_hqserver";
  return path.substr(path.rfind('/') + 1);
}

// The parser, writing into `o`; `faults` collects the --fault texts, checked after parsing.
std::unique_ptr<CLI::App> makeParser(const std::string& program, ServerOptions& o,
                                     std::vector<std::string>& faults) {
  auto app = std::make_unique<CLI::App>("A local history quote service over HTTP.", program);
  app->set_help_flag("-h,--help", "print this help and exit");
  app->set_version_flag("--version", program + " " + ORVEX_HQSERVER_VERSION,
                        "print the version and exit");
  app->add_option("--bind", o.bind, "address to listen on (default 127.0.0.1)")->type_name("ADDR");
  app->add_option("--port", o.port, "port, 0..65535; 0 picks an ephemeral one (default 0)")
      ->type_name("N")
      ->check(CLI::Range(0, 65535).description(""));
  app->add_option("--name", o.name, "name reported by /getServerVersion (default orvex-hqserver)")
      ->type_name("TEXT");
  app->add_option("--token", o.token, "require the header kvauth: T (401 otherwise)")
      ->type_name("T");
  auto* key = app->add_option("--key", o.key,
                              "with --secret: require a valid Authorization "
                              "signature (403 otherwise)")
                  ->type_name("K");
  auto* secret =
      app->add_option("--secret", o.secret, "the signature's secret, with --key")->type_name("S");
  key->needs(secret);
  secret->needs(key);
  app->add_option("--wait-msec", o.waitMsec,
                  "send kv_reqwait_msec: N (0..2147483647) with every answer")
      ->type_name("N")
      ->check(CLI::Range(0, INT_MAX).description(""));
  app->add_option("--page-size", o.pageSize,
                  "records per page of /QryPageTgtDetailV2, 1..100000 (default 1000)")
      ->type_name("N")
      ->check(CLI::Range(1, QueryService::kMaxPageSize).description(""));
  app->add_option("--data", o.dataPath, "CSV file or directory of *.csv (default: embedded data)")
      ->type_name("PATH");
  app->add_option("--request-log", o.requestLog, "append one JSON line per request to FILE")
      ->type_name("FILE");
  app->add_option("--threads", o.threads, "request threads, 1..256 (default 32)")
      ->type_name("N")
      ->check(CLI::Range(1, 256).description(""));
  auto* cert = app->add_option("--tls-cert", o.tlsCert,
                               "with --tls-key: serve https with this PEM certificate")
                   ->type_name("FILE");
  auto* tlsKey = app->add_option("--tls-key", o.tlsKey, "the PEM private key, with --tls-cert")
                     ->type_name("FILE");
  cert->needs(tlsKey);
  tlsKey->needs(cert);
  app->add_flag("--control", o.control, "serve the /_control/ endpoints (fault injection, pacing)");
  app->add_option("--fault", faults,
                  "inject a fault, e.g. kind=status,code=500,path=/QryLast,first=2 (repeatable; "
                  "see docs/service.md)")
      ->type_name("RULE")
      ->allow_extra_args(false);
  app->footer("The first line written to standard output is \"listening on http://HOST:PORT\".\n");
  return app;
}

CommandLine failure(const std::string& program, const std::string& error) {
  CommandLine cl;
  cl.action = CommandLine::Action::Fail;
  cl.text = program + ": " + error + "\nusage: " + program + " [OPTIONS] (--help lists them)\n";
  return cl;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  const std::string program = programName(argc, argv);
  CommandLine cl;
  std::vector<std::string> faults;
  auto app = makeParser(program, cl.options, faults);
  try {
    app->parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    cl.action = CommandLine::Action::Print;
    cl.text = app->help();
    return cl;
  } catch (const CLI::CallForVersion& e) {
    cl.action = CommandLine::Action::Print;
    cl.text = std::string(e.what()) + "\n";
    return cl;
  } catch (const CLI::ParseError& e) {
    return failure(program, e.what());
  }
  for (const std::string& text : faults) {
    std::string error;
    auto rule = FaultRule::parse(text, error);
    if (!rule) return failure(program, "--fault: " + error);
    cl.options.faults.push_back(*rule);
  }
  return cl;
}

}  // namespace hqserver
}  // namespace orvex
