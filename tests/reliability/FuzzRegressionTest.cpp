// Replays the fuzzers' seed corpus and every input a fuzzer ever broke (fuzz/corpus/<fuzzer>/ and
// fuzz/regressions/<fuzzer>/) through the same property checks, in the ordinary build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzChecks.h"

namespace orvex {
namespace test {
namespace reliability {
namespace {

namespace fs = std::filesystem;

using Check = std::string (*)(const uint8_t*, size_t);

struct Fuzzer {
  const char* name;
  Check check;
};

const Fuzzer kFuzzers[] = {
    {"record_text", &fuzz::checkRecordText},
    {"server_name", &fuzz::checkServerNameBody},
    {"service_request", &fuzz::checkServiceRequest},
};

std::vector<fs::path> inputsOf(const std::string& fuzzer) {
  std::vector<fs::path> files;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(ORVEX_FUZZ_DIR) / kind / fuzzer;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  return files;
}

std::string contentsOf(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class FuzzRegressionTest : public ::testing::TestWithParam<Fuzzer> {};

TEST_P(FuzzRegressionTest, EveryStoredInputKeepsEveryProperty) {
  const std::vector<fs::path> files = inputsOf(GetParam().name);
  ASSERT_FALSE(files.empty()) << "no seed corpus for " << GetParam().name;
  for (const fs::path& file : files) {
    const std::string input = contentsOf(file);
    EXPECT_EQ(GetParam().check(reinterpret_cast<const uint8_t*>(input.data()), input.size()), "")
        << file;
  }
}

// Inputs that matter whatever the corpus holds: nothing, a lone byte of each kind, long runs.
TEST_P(FuzzRegressionTest, DegenerateInputsKeepEveryProperty) {
  std::vector<std::string> inputs = {"",
                                     std::string(1, '\0'),
                                     "\n",
                                     "\r",
                                     ",",
                                     "%",
                                     "{",
                                     "?",
                                     std::string(100000, ','),
                                     std::string(100000, '['),
                                     std::string(100000, '\n')};
  for (const std::string& input : inputs) {
    EXPECT_EQ(GetParam().check(reinterpret_cast<const uint8_t*>(input.data()), input.size()), "")
        << input.substr(0, 16);
  }
}

INSTANTIATE_TEST_SUITE_P(Fuzzers, FuzzRegressionTest, ::testing::ValuesIn(kFuzzers),
                         [](const ::testing::TestParamInfo<Fuzzer>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace reliability
}  // namespace test
}  // namespace orvex
