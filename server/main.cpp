// orvex_hqserver: runs the local history quote service until SIGINT or SIGTERM.
//
// The first line on standard output is "listening on http://HOST:PORT" (flushed), so that scripts
// and tests can find the port. Exit status: 0 after a signal, 1 when the data or the address
// cannot be used, 2 for bad arguments.
#include <csignal>
#include <iostream>

#include "hqserver/HqServer.h"
#include "hqserver/ServerOptions.h"

namespace {

// Blocks SIGINT and SIGTERM in every thread (set before any thread starts) and waits for one.
int waitForSignal() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  int sig = 0;
  sigwait(&set, &sig);
  return sig;
}

void blockSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace orvex::hqserver;
  const CommandLine cl = parseCommandLine(argc, argv);
  if (cl.action == CommandLine::Action::Print) {
    std::cout << cl.text;
    return 0;
  }
  if (cl.action == CommandLine::Action::Fail) {
    std::cerr << cl.text;
    return 2;
  }
  blockSignals();
  std::string error;
  auto server = HqServer::create(cl.options, error);
  if (!server || !server->start(error)) {
    std::cerr << argv[0] << ": " << error << "\n";
    return 1;
  }
  std::cout << "listening on " << server->url() << std::endl;
  std::cerr << "serving " << server->store()->size() << " records, name " << cl.options.name
            << "\n";
  waitForSignal();
  server->stop();
  return 0;
}
