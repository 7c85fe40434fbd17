// The command line: commands, their arguments and options, and what is refused.
#include <gtest/gtest.h>

#include "CommandLine.h"

namespace orvex {
namespace cli {
namespace {

using Kind = ParsedCommandLine::Kind;

ParsedCommandLine parse(std::vector<std::string> args) { return parseCommandLine(args); }

CliOptions runOptions(std::vector<std::string> args) {
  const ParsedCommandLine parsed = parse(args);
  EXPECT_EQ(parsed.kind, Kind::Run) << parsed.error;
  return parsed.options;
}

TEST(CommandLineTest, ReadsEachCommandWithItsArguments) {
  EXPECT_EQ(runOptions({"name", "--server", "h:1"}).command, "name");
  const CliOptions last = runOptions({"last", "tick", "A", "B", "--server=h:1"});
  EXPECT_EQ(last.args, (std::vector<std::string>{"tick", "A", "B"}));
  EXPECT_EQ(last.server, "h:1");
  EXPECT_EQ(runOptions({"cache", "tick", "A"}).args.size(), 2u);
  const CliOptions range =
      runOptions({"--format", "json", "range", "tick", "A", "--begin", "2024-06-03", "--end",
                  "1717459200000000000", "--max", "10"});
  EXPECT_EQ(range.format, OutputFormat::Json);
  EXPECT_EQ(range.beginTime, 1717372800000000000);
  EXPECT_EQ(range.endTime, 1717459200000000000);
  EXPECT_EQ(range.maxCount, 10);
}

TEST(CommandLineTest, ReadsFetchOptions) {
  const CliOptions fetch =
      runOptions({"fetch", "tick", "A", "B", "--begin=0", "--end=10", "--by-mtime", "--threads",
                  "4", "--progress", "always", "--set", "token=t", "--set", "mac=aa=bb"});
  EXPECT_TRUE(fetch.byModifyTime);
  EXPECT_EQ(fetch.threads, 4);
  EXPECT_EQ(fetch.progress, ProgressMode::Always);
  EXPECT_EQ(fetch.maxCount, 0);  // optional with --by-mtime
  ASSERT_EQ(fetch.settings.size(), 2u);
  EXPECT_EQ(fetch.settings[1], (std::pair<std::string, std::string>{"mac", "aa=bb"}));
}

TEST(CommandLineTest, DoubleDashEndsOptions) {
  const CliOptions last = runOptions({"last", "tick", "--", "-odd-target"});
  EXPECT_EQ(last.args.back(), "-odd-target");
}

TEST(CommandLineTest, HelpNamesTheCommand) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"fetch", "--help"}, {"help", "fetch"}, {"-h", "fetch", "--bogus"}}) {
    const ParsedCommandLine parsed = parse(args);
    EXPECT_EQ(parsed.kind, Kind::Help);
    EXPECT_EQ(parsed.helpCommand, "fetch");
  }
  EXPECT_EQ(parse({"--help"}).helpCommand, "");
  EXPECT_NE(usageText("fetch").find("--by-mtime"), std::string::npos);
  EXPECT_NE(usageText("").find("Commands:"), std::string::npos);
}

TEST(CommandLineTest, RefusesBadArguments) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"bogus"},
      {"name", "extra"},
      {"last", "tick"},
      {"cache", "tick", "A", "B"},
      {"range", "tick", "A", "--begin", "0", "--end", "1"},                // no --max
      {"range", "tick", "A", "--end", "1", "--max", "1"},                  // no --begin
      {"range", "tick", "A", "--begin", "5", "--end", "1", "--max", "1"},  // begin after end
      {"range", "tick", "A", "--begin", "x", "--end", "1", "--max", "1"},
      {"range", "tick", "A", "--begin", "0", "--end", "1", "--max", "0"},
      {"range", "tick", "A", "--begin", "0", "--end", "1", "--max", "-3"},
      {"fetch", "tick", "A", "--begin", "0", "--end", "1"},  // --max without --by-mtime
      {"fetch", "tick", "A", "--begin", "0", "--end", "1", "--max", "1", "--threads", "0"},
      {"fetch", "tick", "A", "--begin", "0", "--end", "1", "--max", "1", "--progress", "x"},
      {"last", "tick", "A", "--begin", "0"},  // option of another command
      {"last", "tick", "A", "--by-mtime"},
      {"last", "tick", "A", "--format", "xml"},
      {"last", "tick", "A", "--log-level", "loud"},
      {"last", "tick", "A", "--set", "novalue"},
      {"last", "tick", "A", "--set", "=v"},
      {"last", "tick", "A", "--server"},
      {"last", "tick", "A", "--server="},
      {"last", "tick", "A", "--log-time=yes"},
      {"last", "tick", "A", "--unknown"},
  };
  for (const auto& args : bad) {
    const ParsedCommandLine parsed = parse(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(parsed.kind, Kind::Error) << joined;
    EXPECT_FALSE(parsed.error.empty()) << joined;
  }
}

TEST(CommandLineTest, ErrorsKeepTheCommandForItsUsage) {
  const ParsedCommandLine parsed = parse({"range", "tick", "A", "--begin", "0"});
  EXPECT_EQ(parsed.helpCommand, "range");
  EXPECT_NE(parsed.error.find("--end"), std::string::npos);
  EXPECT_EQ(parse({"bogus"}).helpCommand, "");
}

}  // namespace
}  // namespace cli
}  // namespace orvex
