// orvex_cli: a command-line host of the history plug-in. See docs/cli.md.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "CliApp.h"
#include "FdStreamBuf.h"

namespace {

// Standard output and error are the same terminal, so the progress line must make room.
bool sameTerminal() {
  struct stat out {};
  struct stat err {};
  return ::isatty(STDOUT_FILENO) == 1 && ::isatty(STDERR_FILENO) == 1 &&
         ::fstat(STDOUT_FILENO, &out) == 0 && ::fstat(STDERR_FILENO, &err) == 0 &&
         out.st_rdev == err.st_rdev;
}

}  // namespace

int main(int argc, char** argv) {
  // A closed standard output: its descriptor would be handed to the first file or socket opened,
  // and the records would go there.
  if (::fcntl(STDOUT_FILENO, F_GETFD) == -1) {
    std::cerr << "orvex_cli: cannot write the output: standard output is closed" << std::endl;
    return orvex::cli::kExitFailure;
  }
  // A reader that went away (fetch ... | head) is a write error to report, not a silent death.
  ::signal(SIGPIPE, SIG_IGN);
  std::ios::sync_with_stdio(false);
  std::cerr.tie(nullptr);
  orvex::cli::FdStreamBuf outBuffer(STDOUT_FILENO);
  std::ostream out(&outBuffer);
  const std::vector<std::string> args(argv + 1, argv + argc);
  orvex::cli::CliApp app(
      {out, std::cerr, ::isatty(STDERR_FILENO) == 1, sameTerminal(), &outBuffer});
  return app.run(args);
}
