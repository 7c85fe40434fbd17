// Replays the fuzzers' seed corpus and every input a fuzzer ever broke (fuzz/corpus/<fuzzer>/ and
// fuzz/regressions/<fuzzer>/), plus degenerate inputs, through the same property checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzChecks.h"

namespace orvex::test::reliability {
namespace {

namespace fs = std::filesystem;

struct Fuzzer {
  const char* name;
  std::string (*check)(const uint8_t*, size_t);
};

const Fuzzer kFuzzers[] = {
    {"record_text", &fuzz::checkRecordText},
    {"server_name", &fuzz::checkServerNameBody},
    {"service_request", &fuzz::checkServiceRequest},
    {"command_line", &fuzz::checkCommandLine},
};

void PrintTo(const Fuzzer& f, std::ostream* os) { *os << f.name; }

std::string holds(const Fuzzer& fuzzer, const std::string& input) {
  return fuzzer.check(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

class FuzzRegressionTest : public ::testing::TestWithParam<Fuzzer> {};

// The stored inputs, then inputs that matter whatever the corpus holds.
TEST_P(FuzzRegressionTest, EveryStoredAndDegenerateInputKeepsEveryProperty) {
  size_t files = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(ORVEX_FUZZ_DIR) / kind / GetParam().name;
    if (!fs::is_directory(dir)) continue;  // no regression stored yet
    for (const auto& entry : fs::directory_iterator(dir)) {
      std::ifstream in(entry.path(), std::ios::binary);
      EXPECT_EQ(holds(GetParam(), std::string(std::istreambuf_iterator<char>(in), {})), "")
          << entry.path();
      ++files;
    }
  }
  EXPECT_GT(files, 0u) << "no seed corpus";
  for (const std::string& input :
       {std::string(), std::string(1, '\0'), std::string("\n"), std::string("\r"), std::string(","),
        std::string("%"), std::string("{"), std::string("?"), std::string(100000, ','),
        std::string(100000, '['), std::string(100000, '\n')}) {
    EXPECT_EQ(holds(GetParam(), input), "") << input.substr(0, 16);
  }
}

// Named by fuzzer: the parameter is a pointer pair, which gtest would print as raw bytes.
INSTANTIATE_TEST_SUITE_P(Fuzzers, FuzzRegressionTest, ::testing::ValuesIn(kFuzzers),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvex::test::reliability
