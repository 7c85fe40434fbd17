// The command line: what each command reads, and that every bad argument is one line that
// points at the usage.
#include <gtest/gtest.h>

#include "CommandLine.h"

namespace orvex {
namespace cli {
namespace {

using Kind = ParsedCommandLine::Kind;

CliOptions runOptions(std::vector<std::string> args) {
  const ParsedCommandLine parsed = parseCommandLine(args);
  EXPECT_EQ(parsed.kind, Kind::Run) << parsed.text;
  return parsed.options;
}

TEST(CommandLineTest, ReadsCommandsAndOptionsOnEitherSide) {
  const CliOptions range = runOptions(
      {"--format", "json", "range", "tick", "A", "--begin", "0", "--end", "1", "--max", "10"});
  EXPECT_EQ(range.format, OutputFormat::Json);

  const CliOptions fetch =
      runOptions({"fetch", "tick", "A", "B", "--begin=0", "--end=10", "--by-mtime", "--threads",
                  "4", "--set", "token=t", "--set", "mac=aa=bb"});
  EXPECT_EQ(fetch.threads, 4);
  ASSERT_EQ(fetch.settings.size(), 2u);
  EXPECT_EQ(fetch.settings[1], (std::pair<std::string, std::string>{"mac", "aa=bb"}));

  const CliOptions download = runOptions(
      {"download", "tick", "A", "--begin", "0", "--end", "1", "--out", "d", "--jobs", "8"});
  EXPECT_EQ(download.jobs, 8);
  EXPECT_EQ(runOptions({"last", "tick", "--", "-odd-target"}).args.back(), "-odd-target");
}

TEST(CommandLineTest, HelpAndVersion) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"fetch", "--help"}, {"help", "fetch"}}) {
    const ParsedCommandLine parsed = parseCommandLine(args);
    EXPECT_EQ(parsed.kind, Kind::Help);
    EXPECT_NE(parsed.text.find("--by-mtime"), std::string::npos) << parsed.text;
  }
  const ParsedCommandLine version = parseCommandLine({"--version"});
  EXPECT_EQ(version.kind, Kind::Version);
  EXPECT_EQ(version.text.rfind("orvex_cli ", 0), 0u);
}

TEST(CommandLineTest, RefusesBadArgumentsInOneLine) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"bogus"},
      {"name", "extra"},
      {"last", "tick"},
      {"cache", "tick", "A", "B"},
      {"cache", "tick", ""},  // an empty name once shifted the others and crashed
      {"last", "", "A"},
      {"last", "tick", "A", "B,C"},  // would quietly become two targets
      {"download", "tick", "..", "--begin", "0", "--end", "1", "--out", "d"},
      {"range", "tick", "A", "--begin", "0", "--end", "1"},                // no --max
      {"range", "tick", "A", "--begin", "5", "--end", "1", "--max", "1"},  // begin after end
      {"range", "tick", "A", "--begin", "x", "--end", "1", "--max", "1"},
      {"range", "tick", "A", "--begin", "0", "--end", "1", "--max", "0"},
      {"fetch", "tick", "A", "--begin", "0", "--end", "1"},  // --max without --by-mtime
      {"fetch", "tick", "A", "--begin", "0", "--end", "1", "--max", "1", "--threads", "0"},
      {"last", "tick", "A", "--begin", "0"},  // option of another command
      {"last", "tick", "A", "--format", "xml"},
      {"last", "tick", "A", "--log-level", "loud"},
      {"last", "tick", "A", "--set", "novalue"},
      {"download", "tick", "A", "--begin", "0", "--end", "1", "--out", "d", "--shard", "3/3"},
      {"download", "tick", "A", "--begin", "0", "--end", "1"},  // no --out
      {"--format", "json", "download", "tick", "A", "--begin", "0", "--end", "1", "--out", "d"},
  };
  for (const auto& args : bad) {
    const ParsedCommandLine parsed = parseCommandLine(args);
    EXPECT_EQ(parsed.kind, Kind::Error) << ::testing::PrintToString(args);
    EXPECT_EQ(parsed.text.find('\n'), std::string::npos) << parsed.text;
    EXPECT_NE(parsed.text.find("--help"), std::string::npos) << parsed.text;
  }
}

}  // namespace
}  // namespace cli
}  // namespace orvex
