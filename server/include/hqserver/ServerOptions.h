// The service's settings and the command line that sets them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hqserver/FaultInjector.h"

namespace orvex {
namespace hqserver {

struct ServerOptions {
  std::string bind = "127.0.0.1";
  uint16_t port = 0;  // 0: an ephemeral port
  std::string name = "orvex-hqserver";
  std::string token;  // checked against "kvauth" when not empty
  std::string key;    // with `secret`: the signature is checked
  std::string secret;
  int waitMsec = -1;  // >= 0: sent as "kv_reqwait_msec" with every answer
  int pageSize = 1000;
  std::string dataPath;    // CSV file or directory; empty: the embedded data set
  std::string requestLog;  // empty: no request log
  int threads = 32;
  bool control = false;  // serve /_control/...
  std::string tlsCert;   // with tlsKey: serve https with this PEM certificate (chain)
  std::string tlsKey;    // PEM private key of tlsCert
  std::vector<FaultRule> faults;
};

// The outcome of reading a command line.
struct CommandLine {
  enum class Action {
    Run,    // serve with `options`
    Print,  // print `text` on standard output and exit 0 (--help, --version)
    Fail    // print `text` (the error and a one-line usage hint) on standard error, exit 2
  };
  Action action = Action::Run;
  ServerOptions options;
  std::string text;
};

// Reads argv[1..argc-1]; argv[0] names the program in the texts. Never exits or prints.
CommandLine parseCommandLine(int argc, const char* const* argv);

}  // namespace hqserver
}  // namespace orvex
