// orvex_cli run as a process against the local history service: what each command prints, and
// the outcome a script sees (exit status, one line on standard error) when a run is complete,
// short, failed, refused, unwritable or interrupted; configuration from files and environment.
#include <Poco/File.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/TemporaryFile.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "ChildProcess.h"
#include "LocalService.h"

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

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

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

  LocalService& service() {
    if (!service_)
      service_ = std::make_unique<LocalService>(options(), LocalService::fromCsv(kStoreCsv));
    return *service_;
  }

  // The arguments that reach the service: the server address and the configuration file.
  std::vector<std::string> withService(std::vector<std::string> args) {
    args.insert(args.end(), {"--server", service().url(), "--config", config_.path()});
    return args;
  }

  static CliRun run(const std::vector<std::string>& args) {
    CliRun r;
    r.status = runProgram(ORVEX_CLI_PATH, args, r.out, r.err);
    return r;
  }

  // `script` run by bash with pipefail; "CLI" in it stands for the program.
  static CliRun shell(std::string script) {
    const size_t at = script.find("CLI");
    if (at != std::string::npos) script.replace(at, 3, ORVEX_CLI_PATH);
    CliRun r;
    r.status = runProgram("/bin/bash", {"-c", "set -o pipefail; " + script}, r.out, r.err);
    return r;
  }

  std::string serviceWords() {
    return " --server " + service().url() + " --config " + config_.path();
  }

  Poco::TemporaryFile config_;
  std::unique_ptr<LocalService> service_;
};

// Each command prints its records; "CLI" in a line of `expected` ends the comparison early.
TEST_F(CliProcessTest, CommandsPrintTheirRecords) {
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"name"}, "cli-test-service\n"},
      {{"name", "--format", "json"}, "{\"name\":\"cli-test-service\"}\n"},
      {{"last", "tick", "A", "B"},
       std::string(kHeader) + "\nA,tick,4000000000,12,x\nB,tick,2500000000,21,b2\n"},
      {{"cache", "tick", "B", "--format", "json"},
       "{\"target\":\"B\",\"key\":\"tick\",\"time\":2500000000,\"utc\":\"1970-01-01T00:00:02."
       "500Z\","
       "\"value\":21,\"data\":\"b2\"}\n"},
      {{"range", "tick", "A", "--begin", "1000000000", "--end", "1970-01-01T00:00:03.5Z", "--max",
        "2"},
       std::string(kHeader) + "\nA,tick,2000000000,11,\nA,tick,3000000000,11.25,late\n"},
      {{"fetch", "tick", "A", "B", "--by-mtime", "--begin", "5000000000", "--end", "9000000000"},
       std::string(kHeader) + "\nA,tick,3000000000,11.25,late\n"},
  };
  for (const auto& c : cases) {
    const CliRun r = run(withService(c.args));
    EXPECT_EQ(r.status, 0) << c.args[0] << ": " << r.err;
    EXPECT_EQ(r.out, c.out) << c.args[0];
    EXPECT_EQ(r.err, "") << c.args[0];
  }
}

TEST_F(CliProcessTest, FetchPrintsEveryRecordOfEveryTarget) {
  const CliRun r = run(withService({"fetch", "tick", "A", "B", "--begin", "0", "--end",
                                    "9000000000", "--max", "100", "--threads", "2"}));
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> got = lines(r.out);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0], kHeader);
  const std::multiset<std::string> records(got.begin() + 1, got.end());
  EXPECT_EQ(records, (std::multiset<std::string>{
                         "A,tick,1000000000,10.5,\"o=1,h=2\"", "A,tick,2000000000,11,",
                         "A,tick,3000000000,11.25,late", "A,tick,4000000000,12,x",
                         "B,tick,1500000000,20,b1", "B,tick,2500000000,21,b2"}));
  // Standard error is not a terminal here: no progress line, no summary.
  EXPECT_EQ(r.err, "");
}

// The exit status and the line on standard error tell a script what happened.
TEST_F(CliProcessTest, OutcomesAScriptCanTellApart) {
  const std::vector<std::string> range = {"range", "tick",       "A",     "--begin", "0",
                                          "--end", "9000000000", "--max", "9"};
  const std::vector<std::string> fetchAB = {"fetch", "tick",  "A",          "B",     "--begin",
                                            "0",     "--end", "9000000000", "--max", "100"};
  const struct {
    const char* what;
    std::vector<std::string> args;
    const char* fault;  // a rule of the service, or empty
    int status;
    const char* err;  // a part of standard error; empty: nothing at all
    size_t outLines;
  } cases[] = {
      {"complete", {"last", "tick", "A"}, "", 0, "", 2},
      {"unknown target", {"last", "tick", "A", "NOPE"}, "", 0, "warning: no record of NOPE", 2},
      {"unknown key", {"last", "nokey", "A"}, "", 0, "no record of key 'nokey' for any target", 1},
      {"empty range",
       {"range", "tick", "B", "--begin", "3000000000", "--end", "9000000000", "--max", "5"},
       "",
       0,
       "warning: no record of B",
       1},
      {"failed part-way", fetchAB, "kind=status,code=500,path=/QryCodeType,every=2", 3,
       "orvex_cli: fetch B: EN_ICE_NET_ERROR: ", 5},
      {"failed", range, "kind=status,code=500,path=/QryCodeType", 1,
       "orvex_cli: range: EN_ICE_NET_ERROR: ", 1},
      {"refused token", {"name", "--set", "token=wrong"}, "", 4, "refused by the service", 0},
      {"refused signature", range, "kind=status,code=403,path=/QryCodeType", 4,
       "range: refused by the service", 1},
      {"usage", {"range", "tick", "A", "--begin", "0"}, "", 2, "--end is required", 0},
  };
  for (const auto& c : cases) {
    service().faults().clear();
    if (*c.fault != '\0') {
      std::string error;
      service().faults().add(*hqserver::FaultRule::parse(c.fault, error));
    }
    std::vector<std::string> args = withService(c.args);
    args.insert(args.end(), {"--log-level", "off"});
    const CliRun r = run(args);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
    if (*c.err == '\0') {
      EXPECT_EQ(r.err, "") << c.what;
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << c.what << ": " << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    }
    EXPECT_EQ(lines(r.out).size(), c.outLines) << c.what << ": " << r.out;
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
  const std::string env = "XDG_CONFIG_HOME=" + home.path() + " ORVEX_SERVER=" + service().url();
  CliRun r = shell(env + " ORVEX_TOKEN=tok-1 CLI name");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "cli-test-service\n");
  EXPECT_NE(r.err.find("orvex.conf:4: unknown configuration key 'tokn'"), std::string::npos)
      << r.err;
  r = shell(env + " ORVEX_TOKEN=tok-1 CLI name --set token=wrong --log-level off");
  EXPECT_EQ(r.status, 4) << r.err;
  r = shell(env + " CLI name --log-level off");
  EXPECT_EQ(r.status, 4) << r.err;
}

// Records and the progress line on one terminal: the line is blanked before records come.
TEST_F(CliProcessTest, TheProgressLineMakesWayForRecordsOnOneTerminal) {
  std::string error;
  service().faults().add(*hqserver::FaultRule::parse("kind=delay,ms=300,path=/QryCodeType", error));
  const CliRun r = shell(
      "script -qfec \"CLI fetch tick A --begin 0 --end 9000000000 --max 3 "
      "--progress always" +
      serviceWords() + "\" /dev/null");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("records \\| [^\r]*\r +\rtarget,key"))) << r.out;
}

TEST_F(CliProcessTest, AServiceThatIsDownGivesAClearMessage) {
  uint16_t port = 0;
  {
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    port = socket.address().port();
  }  // closed: nothing listens there now
  const std::string address = "127.0.0.1:" + std::to_string(port);
  const CliRun r = run(
      {"last", "tick", "A", "--server", address, "--config", config_.path(), "--log-level", "off"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("orvex_cli: cannot connect to " + address + ": EN_ICE_NET_ERROR", 0), 0u)
      << r.err;
}

// getData stops at 100 steps of 1000 records: more asked for over a longer history is short.
TEST(CliRangeLimitTest, ARangeBeyondThePlugInsLimitIsIncomplete) {
  LocalService service;
  CliRun r;
  r.status = runProgram(ORVEX_CLI_PATH,
                        {"range", "tick", "CFFEX.IF2409", "--begin", "2024-06-01", "--end",
                         "2024-06-10", "--max", "1000000", "--server", service.url()},
                        r.out, r.err);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(lines(r.out).size(), 100001u);
  EXPECT_NE(r.err.find("warning: incomplete: range stops at 100000 records"), std::string::npos)
      << r.err;
}

// Output that cannot be written stops the program with a message, whatever the cause.
TEST(CliOutputTest, WriteErrorsStopTheProgram) {
  LocalService service;
  const std::string fetch = std::string(ORVEX_CLI_PATH) +
                            " fetch tick CFFEX.IF2409 DCE.m2409 --begin 2024-06-03 --end "
                            "2024-06-08 --max 1000000 --threads 2 --server " +
                            service.url();
  const struct {
    const char* redirect;
    const char* err;
  } cases[] = {{" > /dev/full", "No space left on device"},
               {" >&-", "standard output is closed"},
               {" | head -2 > /dev/null", "Broken pipe"}};
  for (const auto& c : cases) {
    std::string out, err;
    const int status =
        runProgram("/bin/bash", {"-c", "set -o pipefail; " + fetch + c.redirect}, out, err);
    EXPECT_EQ(status, 1) << c.redirect << ": " << err;
    EXPECT_NE(err.find(std::string("orvex_cli: cannot write the output: ") + c.err),
              std::string::npos)
        << c.redirect << ": " << err;
  }
}

// Records from several pool threads and the progress line from the main thread at once: every
// line of the output stays whole and appears once.
TEST(CliConcurrentOutputTest, ProgressLineDoesNotDisturbRecordsFromSeveralThreads) {
  LocalService service;
  const std::vector<std::string> targets = {"CFFEX.IF2409", "DCE.m2409", "SHFE.cu2409",
                                            "SHFE.rb2410"};
  std::vector<std::string> args = {"fetch", "tick"};
  args.insert(args.end(), targets.begin(), targets.end());
  args.insert(args.end(), {"--begin", "2024-06-03", "--end", "2024-06-05", "--max", "1000000",
                           "--threads", "4", "--progress", "always", "--server", service.url()});
  CliRun r;
  r.status = runProgram(ORVEX_CLI_PATH, args, r.out, r.err);
  ASSERT_EQ(r.status, 0) << r.err;

  const std::vector<std::string> got = lines(r.out);
  ASSERT_GT(got.size(), 1u);
  EXPECT_EQ(got[0], kHeader);
  std::set<std::string> seen;
  for (size_t i = 1; i < got.size(); ++i) {
    const std::string& line = got[i];
    const bool knownTarget = std::any_of(targets.begin(), targets.end(), [&](const auto& t) {
      return line.rfind(t + ",tick,", 0) == 0;
    });
    ASSERT_TRUE(knownTarget) << "line " << i << ": " << line;
    ASSERT_TRUE(seen.insert(line).second) << "repeated line " << i << ": " << line;
  }
  const std::string count = std::to_string(got.size() - 1);
  std::string grouped = count;
  for (int i = static_cast<int>(grouped.size()) - 3; i > 0; i -= 3) grouped.insert(i, ",");
  EXPECT_NE(r.err.find("fetched " + grouped + " records"), std::string::npos) << r.err;
}

// Ctrl-C while a request is stalled in the service: the first ends the program after a grace
// period, a second at once; either way every line printed is whole and the summary counts them.
TEST(CliInterruptTest, CtrlCEndsAStalledFetchWithWholeLines) {
  LocalService service;
  std::string error;
  // Every third range query stalls for seconds: the fetch is inside one when Ctrl-C comes.
  service.faults().add(
      *hqserver::FaultRule::parse("kind=delay,ms=5000,path=/QryCodeType,every=3", error));
  for (int signals : {1, 2}) {
    auto child =
        ChildProcess::start(ORVEX_CLI_PATH,
                            {"fetch", "tick", "CFFEX.IF2409", "--begin", "2024-06-03", "--end",
                             "2024-06-08", "--max", "2000000", "--server", service.url()},
                            error);
    ASSERT_TRUE(child) << error;
    ASSERT_TRUE(child->waitForStdoutLines(1 + 2000, std::chrono::seconds(30))) << child->err();
    for (int i = 0; i < signals; ++i) child->signal(SIGINT);
    EXPECT_EQ(child->wait(std::chrono::seconds(30)), 130) << child->err();

    const std::vector<std::string> got = lines(child->out());
    ASSERT_GT(got.size(), 2000u);
    EXPECT_EQ(got[0], kHeader);
    EXPECT_EQ(child->out().back(), '\n');
    for (size_t i = 1; i < got.size(); ++i) {
      ASSERT_EQ(got[i].rfind("CFFEX.IF2409,tick,", 0), 0u) << got[i];
    }
    std::string count = std::to_string(got.size() - 1);
    for (int i = static_cast<int>(count.size()) - 3; i > 0; i -= 3) count.insert(i, ",");
    EXPECT_NE(child->err().find("orvex_cli: interrupted: " + count + " records"), std::string::npos)
        << child->err();
  }
}

}  // namespace
}  // namespace test
}  // namespace orvex
