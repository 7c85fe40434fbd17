// orvex_cli: a command-line host of the history plug-in. See docs/cli.md.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "CliApp.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  // Records are written to std::cout from pool threads while the progress line is drawn on
  // std::cerr from the main thread; a tied std::cerr would flush std::cout from the wrong thread.
  std::cerr.tie(nullptr);
  const std::vector<std::string> args(argv + 1, argv + argc);
  orvex::cli::CliApp app({std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1});
  const int code = app.run(args);
  std::cout.flush();
  return code;
}
