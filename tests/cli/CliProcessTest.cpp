// orvex_cli run as a process against the local history service: what each command prints, and
// the outcome a script sees (exit status, one line on standard error) when a run is complete,
// short, failed, refused, unwritable or interrupted; configuration from files and environment.
#include <Poco/File.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/TemporaryFile.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "ChildProcess.h"
#include "LocalService.h"
#include "ProgressLine.h"

namespace orvex {
namespace test {
namespace {

constexpr const char* kHeader = "target,key,time,value,data";

// Two targets of "tick", one record of "kline"; times in seconds for readability.
constexpr const char* kStoreCsv =
    "A,tick,1000000000,1000000500,10.5,o=1,h=2\n"
    "A,tick,2000000000,2000000500,11,\n"
    "A,tick,3000000000,9000000000,11.25,late\n"
    "A,tick,4000000000,4000000500,12,x\n"
    "B,tick,1500000000,1500000500,20,b1\n"
    "B,tick,2500000000,2500000500,21,b2\n"
    "A,kline,1000000000,1000000500,1,k\n";

// `text` split at spaces: a command line without quoting.
std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

CliRun run(const std::vector<std::string>& args, const std::string& program = ORVEX_CLI_PATH) {
  CliRun r;
  r.status = runProgram(program, args, r.out, r.err);
  return r;
}

// `script` run by bash with pipefail; "CLI" in it stands for the program.
CliRun shell(std::string script) {
  script.replace(script.find("CLI"), 3, ORVEX_CLI_PATH);
  return run({"-c", "set -o pipefail; " + script}, "/bin/bash");
}

class CliProcessTest : public ::testing::Test {
 protected:
  CliProcessTest() {
    std::ofstream(config_.path()) << "# access to the test service\n"
                                  << "token=tok-1\nfc_key=ak-1\nfc_secret=sk-1\nmac=00:11:22\n";
  }

  static hqserver::ServerOptions options() {
    hqserver::ServerOptions o;
    o.name = "cli-test-service";
    o.token = "tok-1";
    o.key = "ak-1";
    o.secret = "sk-1";
    return o;
  }

  // The arguments that reach the service: its address, unless `args` name another, and the
  // configuration file.
  std::vector<std::string> withService(std::vector<std::string> args) {
    if (std::count(args.begin(), args.end(), "--server") == 0) {
      args.insert(args.end(), {"--server", service_.url()});
    }
    args.insert(args.end(), {"--config", config_.path()});
    return args;
  }

  Poco::TemporaryFile config_;
  LocalService service_{options(), LocalService::fromCsv(kStoreCsv)};
};

// Each command prints its records; the exit status and the one line on standard error tell a
// script what happened. Standard error is not a terminal here: no progress line, no summary.
TEST_F(CliProcessTest, CommandsPrintTheirRecordsAndOutcomesAScriptCanTellApart) {
  Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
  const std::string down = socket.address().toString();
  socket.close();  // nothing listens there now
  const std::string header = std::string(kHeader) + "\n";
  const std::string a4 = "A,tick,4000000000,12,x\n";
  const std::string allA =
      "A,tick,1000000000,10.5,\"o=1,h=2\"\nA,tick,2000000000,11,\n"
      "A,tick,3000000000,11.25,late\nA,tick,4000000000,12,x\n";
  const std::string range = "range tick A --begin 0 --end 9000000000 --max 9";
  const std::string fetchAB = "fetch tick A B --begin 0 --end 9000000000 --max 100";
  const struct {
    std::string args;
    const char* fault;  // a rule of the service, or empty
    int status;
    std::string err;  // a part of the one line on standard error; empty: nothing at all
    std::string out;
  } cases[] = {
      {"name --format json", "", 0, "", "{\"name\":\"cli-test-service\"}\n"},
      {"last tick A B", "", 0, "", header + a4 + "B,tick,2500000000,21,b2\n"},
      {"cache tick B --format json", "", 0, "",
       "{\"target\":\"B\",\"key\":\"tick\",\"time\":2500000000,"
       "\"utc\":\"1970-01-01T00:00:02.500Z\",\"value\":21,\"data\":\"b2\"}\n"},
      {"range tick A --begin 1000000000 --end 1970-01-01T00:00:03.5Z --max 2", "", 0, "",
       header + "A,tick,2000000000,11,\nA,tick,3000000000,11.25,late\n"},
      {"fetch tick A B --by-mtime --begin 5000000000 --end 9000000000", "", 0, "",
       header + "A,tick,3000000000,11.25,late\n"},
      {fetchAB, "", 0, "", header + allA + "B,tick,1500000000,20,b1\nB,tick,2500000000,21,b2\n"},
      {"last tick A NOPE", "", 0, "warning: no record of NOPE", header + a4},
      {"last nokey A", "", 0, "no record of key 'nokey' for any target", header},
      {"range tick B --begin 3000000000 --end 9000000000 --max 5", "", 0, "warning: no record of B",
       header},
      {fetchAB, "kind=status,code=500,path=/QryCodeType,every=2", 3,
       "orvex_cli: fetch B: EN_ICE_NET_ERROR: ", header + allA},
      {range, "kind=status,code=500,path=/QryCodeType", 1,
       "orvex_cli: range: EN_ICE_NET_ERROR: ", header},
      {"name --set token=wrong", "", 4, "refused by the service", ""},
      {range, "kind=status,code=403,path=/QryCodeType", 4, "range: refused by the service", header},
      {"range tick A --begin 0", "", 2, "--end is required", ""},
      {"last tick A --server " + down, "", 1,
       "orvex_cli: cannot connect to " + down + ": EN_ICE_NET_ERROR", ""},
  };
  for (const auto& c : cases) {
    service_.faults().clear();
    if (*c.fault != '\0') service_.addFault(c.fault);
    const CliRun r = run(withService(words(c.args + " --log-level off")));
    const std::string what = c.args + " " + c.fault + ": " + r.err;
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(r.out, c.out) << what;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << what;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), c.err.empty() ? 0 : 1) << what;
    EXPECT_TRUE(!c.err.empty() || r.err.empty()) << what;
  }
}

// Later wins: the default file (its first line after a byte-order mark), ORVEX_* variables,
// then --set; an unknown key in the file is a warning.
TEST_F(CliProcessTest, ConfigurationFromFileEnvironmentAndCommandLine) {
  Poco::TemporaryFile home;
  Poco::File(home.path() + "/orvex").createDirectories();
  std::ofstream(home.path() + "/orvex/orvex.conf")
      << "\xEF\xBB\xBF"
         "fc_key=ak-1\nfc_secret=sk-1\ntoken=wrong\ntokn=x\n";
  const std::string env = "XDG_CONFIG_HOME=" + home.path() + " ORVEX_SERVER=" + service_.url();
  CliRun r = shell(env + " ORVEX_TOKEN=tok-1 CLI name");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "cli-test-service\n");
  EXPECT_NE(r.err.find("orvex.conf:4: unknown configuration key 'tokn'"), std::string::npos)
      << r.err;
  r = shell(env + " ORVEX_TOKEN=tok-1 CLI name --set token=wrong --log-level off");
  EXPECT_EQ(r.status, 4) << r.err;
}

// Records and the progress line on one terminal: the line is blanked before records come.
TEST_F(CliProcessTest, TheProgressLineMakesWayForRecordsOnOneTerminal) {
  service_.addFault("kind=delay,ms=300,path=/QryCodeType");
  const CliRun r = shell(
      "script -qfec \"CLI fetch tick A --begin 0 --end 9000000000 --max 3 "
      "--progress always --server " +
      service_.url() + " --config " + config_.path() + "\" /dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("records \\| [^\r]*\r +\rtarget,key"))) << r.out;
}

// Runs against the embedded data set. Checks that `out` is the header, then whole records of
// every one of `targets`, each printed once; returns their count as a summary prints it.
class CliEmbeddedTest : public ::testing::Test {
 protected:
  static std::string checkRecords(const std::string& out, const std::vector<std::string>& targets) {
    const size_t body = out.find('\n') + 1;
    EXPECT_EQ(out.substr(0, body), std::string(kHeader) + "\n");
    EXPECT_TRUE(!out.empty() && out.back() == '\n');
    std::set<std::string> seen, targetsSeen;
    std::istringstream in(out.substr(body));
    for (std::string line; std::getline(in, line);) {
      const std::string target = line.substr(0, line.find(",tick,"));
      if (std::count(targets.begin(), targets.end(), target) == 0 || line == target ||
          !seen.insert(line).second) {
        ADD_FAILURE() << "unknown or repeated: " << line;
        break;
      }
      targetsSeen.insert(target);
    }
    EXPECT_EQ(targetsSeen.size(), targets.size()) << "a target is missing";
    return cli::groupDigits(seen.size());
  }

  LocalService service_;
};

// getData stops at 100 steps of 1000 records: more asked for over a longer history is short.
TEST_F(CliEmbeddedTest, ARangeBeyondThePlugInsLimitIsIncomplete) {
  const CliRun r =
      run(words("range tick CFFEX.IF2409 --begin 2024-06-01 --end 2024-06-10 --max "
                "1000000 --server " +
                service_.url()));
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 100001);
  EXPECT_NE(r.err.find("warning: incomplete: range stops at 100000 records"), std::string::npos)
      << r.err;
}

// Records from several pool threads and the progress line from the main thread at once: every
// line of the output stays whole and appears once. Output that cannot be written stops the
// program with a message, whatever the cause.
TEST_F(CliEmbeddedTest, FetchOnSeveralThreadsWritesWholeLinesOrStopsAtAWriteError) {
  const std::string targets = "CFFEX.IF2409 DCE.m2409 SHFE.cu2409 SHFE.rb2410";
  const std::string fetch = "CLI fetch tick " + targets +
                            " --begin 2024-06-03 --end 2024-06-05 --max 1000000 --threads 4 "
                            "--progress always --server " +
                            service_.url();
  const CliRun r = shell(fetch);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("fetched " + checkRecords(r.out, words(targets)) + " records"),
            std::string::npos)
      << r.err;
  const struct {
    const char* redirect;
    const char* err;
  } cases[] = {{" > /dev/full", "No space left on device"},
               {" >&-", "standard output is closed"},
               {" | head -2 > /dev/null", "Broken pipe"}};
  for (const auto& c : cases) {
    const CliRun failed = shell(fetch + c.redirect);
    EXPECT_EQ(failed.status, 1) << c.redirect << ": " << failed.err;
    EXPECT_NE(failed.err.find(std::string("orvex_cli: cannot write the output: ") + c.err),
              std::string::npos)
        << c.redirect << ": " << failed.err;
  }
}

// Ctrl-C while a request is stalled in the service: the first ends the program after a grace
// period, a second at once; either way every line printed is whole and the summary counts them.
TEST_F(CliEmbeddedTest, CtrlCEndsAStalledFetchWithWholeLines) {
  // Every third range query stalls for seconds: the fetch is inside one when Ctrl-C comes.
  service_.addFault("kind=delay,ms=5000,path=/QryCodeType,every=3");
  const std::vector<std::string> args =
      words("fetch tick CFFEX.IF2409 --begin 2024-06-03 --end 2024-06-08 --max 2000000 --server " +
            service_.url());
  std::string error;
  for (int signals : {1, 2}) {
    auto child = ChildProcess::start(ORVEX_CLI_PATH, args, error);
    ASSERT_TRUE(child) << error;
    ASSERT_TRUE(child->waitForStdoutLines(1 + 2000, std::chrono::seconds(30))) << child->err();
    for (int i = 0; i < signals; ++i) child->signal(SIGINT);
    EXPECT_EQ(child->wait(std::chrono::seconds(30)), 130) << child->err();
    const std::string count = checkRecords(child->out(), {"CFFEX.IF2409"});
    EXPECT_NE(child->err().find("orvex_cli: interrupted: " + count + " records"), std::string::npos)
        << child->err();
  }
}

}  // namespace
}  // namespace test
}  // namespace orvex
