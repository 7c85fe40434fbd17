// The libFuzzer entry point of one fuzzer; ORVEX_FUZZ_CHECK names its check (FuzzChecks.h).
#include <cstdio>
#include <cstdlib>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string broken = orvex::fuzz::ORVEX_FUZZ_CHECK(data, size);
  if (!broken.empty()) {
    std::fprintf(stderr, "property broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
