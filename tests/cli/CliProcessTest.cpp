// orvex_cli run as a process against the local history service: each command's output and exit
// status, bad arguments, a service that is down or failing, and Ctrl-C during a fetch.
#include <Poco/Net/ServerSocket.h>
#include <Poco/TemporaryFile.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
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

  Poco::TemporaryFile config_;
  std::unique_ptr<LocalService> service_;
};

TEST_F(CliProcessTest, NamePrintsTheServiceName) {
  CliRun r = run(withService({"name"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "cli-test-service\n");
  r = run(withService({"name", "--format", "json"}));
  EXPECT_EQ(r.out, "{\"name\":\"cli-test-service\"}\n");
}

TEST_F(CliProcessTest, LastPrintsTheLatestRecordOfEachTarget) {
  const CliRun r = run(withService({"last", "tick", "A", "B"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(kHeader) +
                       "\nA,tick,4000000000,12,x\n"
                       "B,tick,2500000000,21,b2\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(CliProcessTest, CachePrintsTheCachedRecord) {
  const CliRun r = run(withService({"cache", "tick", "B", "--format", "json"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "{\"target\":\"B\",\"key\":\"tick\",\"time\":2500000000,\"value\":21,\"data\":\"b2\"}\n");
}

TEST_F(CliProcessTest, RangePrintsTheLatestRecordsInTimeOrder) {
  CliRun r = run(withService({"range", "tick", "A", "--begin", "1000000000", "--end",
                              "1970-01-01T00:00:03.5Z", "--max", "2"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, std::string(kHeader) +
                       "\nA,tick,2000000000,11,\n"
                       "A,tick,3000000000,11.25,late\n");

  r = run(withService({"range", "tick", "A", "--begin", "0", "--end", "9000000000", "--max", "10",
                       "--format", "table"}));
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> table = lines(r.out);
  ASSERT_EQ(table.size(), 5u);
  EXPECT_EQ(table[0].rfind("target", 0), 0u);
  EXPECT_NE(table[1].find("1970-01-01 00:00:01.000"), std::string::npos);
  EXPECT_EQ(table[1].substr(table[1].size() - 7), "o=1,h=2");
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

TEST_F(CliProcessTest, FetchByModificationTimeSelectsByMtm) {
  const CliRun r = run(withService({"fetch", "tick", "A", "B", "--by-mtime", "--begin",
                                    "5000000000", "--end", "9000000000", "--format", "json"}));
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> got = lines(r.out);
  ASSERT_EQ(got.size(), 1u) << r.out;
  EXPECT_NE(got[0].find("\"data\":\"late\""), std::string::npos);
}

TEST_F(CliProcessTest, FetchProgressCanBeForced) {
  const CliRun r = run(withService({"fetch", "tick", "A", "--begin", "0", "--end", "9000000000",
                                    "--max", "3", "--progress", "always"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(lines(r.out).size(), 4u);
  EXPECT_NE(r.err.find("\r3 records | 2 batches |"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("fetched 3 records in 2 batches from 1 request in "), std::string::npos)
      << r.err;
}

TEST_F(CliProcessTest, AFailingServicePrintsTheCodeAndWhatArrivedBefore) {
  hqserver::FaultRule rule;
  rule.kind = hqserver::FaultRule::Kind::Status;
  rule.code = 500;
  rule.path = "/QryCodeType";
  rule.trigger = hqserver::FaultRule::Trigger::Every;
  rule.n = 2;
  service().faults().add(rule);
  // Every second range query fails: target A's (the first) succeeds, target B's does not.
  const CliRun r = run(withService(
      {"fetch", "tick", "A", "B", "--begin", "0", "--end", "9000000000", "--max", "100"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines(r.out).size(), 5u) << r.out;  // header and A's four records
  EXPECT_NE(r.err.find("orvex_cli: fetch B: "), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("fetch A"), std::string::npos) << r.err;
}

TEST_F(CliProcessTest, BadArgumentsPrintUsageAndExitWithTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"bogus"},
           {"range", "tick", "A", "--server", "127.0.0.1:1"},
           {"last", "tick", "A", "--begin", "0", "--server", "127.0.0.1:1"},
           {"last", "tick", "A"}}) {  // no service address
    const CliRun r = run(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("Usage: orvex_cli"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(CliProcessTest, HelpPrintsUsageAndSucceeds) {
  const CliRun r = run({"fetch", "--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Usage: orvex_cli fetch", 0), 0u) << r.out;
}

TEST_F(CliProcessTest, AnUnreadableConfigurationIsRefused) {
  const CliRun r = run({"name", "--server", "127.0.0.1:1", "--config", "/nonexistent/orvex.conf"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad configuration"), std::string::npos) << r.err;
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

TEST_F(CliProcessTest, AMissingPluginIsReported) {
  const CliRun r = run(withService({"name", "--plugin", "/nonexistent/liborvex_history.so"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot load plug-in /nonexistent/liborvex_history.so"), std::string::npos);
}

TEST_F(CliProcessTest, TheServiceRefusesAWrongToken) {
  const CliRun r = run(withService({"name", "--set", "token=wrong", "--log-level", "off"}));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("orvex_cli: cannot connect to"), std::string::npos) << r.err;
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

// Ctrl-C in the middle of a long fetch: the request ends after the step in progress, every record
// received is printed whole, and the program says how many.
TEST(CliInterruptTest, SigintEndsAFetchCleanly) {
  hqserver::ServerOptions o;
  o.token = "tok-2";
  LocalService service(o);
  service.setWaitMsec(100);  // a pause before every request keeps the fetch going for seconds
  std::string error;
  auto child = ChildProcess::start(
      ORVEX_CLI_PATH,
      {"fetch", "tick", "CFFEX.IF2409", "--begin", "2024-06-03", "--end", "2024-06-08", "--max",
       "2000000", "--server", service.url(), "--set", "token=tok-2"},
      error);
  ASSERT_TRUE(child) << error;
  ASSERT_TRUE(child->waitForStdoutLines(1 + 1000, std::chrono::seconds(30))) << child->err();
  child->signal(SIGINT);
  const int status = child->wait();
  EXPECT_EQ(status, 130) << child->err();

  const std::vector<std::string> got = lines(child->out());
  ASSERT_GT(got.size(), 1000u);
  EXPECT_EQ(got[0], kHeader);
  EXPECT_EQ(child->out().back(), '\n');
  // Far fewer than the 288,000 records of the five days: the fetch stopped early.
  EXPECT_LT(got.size(), 100000u);
  for (size_t i = 1; i < got.size(); ++i) {
    ASSERT_EQ(got[i].rfind("CFFEX.IF2409,tick,", 0), 0u) << got[i];
  }
  EXPECT_NE(child->err().find("orvex_cli: interrupted: "), std::string::npos) << child->err();
  // The count it reports is the number of records it printed.
  std::string count = std::to_string(got.size() - 1);
  for (int i = static_cast<int>(count.size()) - 3; i > 0; i -= 3) count.insert(i, ",");
  EXPECT_NE(child->err().find("interrupted: " + count + " records"), std::string::npos)
      << child->err();
}

}  // namespace
}  // namespace test
}  // namespace orvex
