// orvex_cli download against the local service: files and sidecars, the repair of ties at step
// boundaries, resume (also after SIGKILL), retries, refusal, shards, and the round trip through
// a service that serves the download directory.
#include <Poco/TemporaryFile.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "LocalService.h"
#include "hqserver/CsvLoader.h"

namespace orvex {
namespace test {
namespace {

namespace fs = std::filesystem;
constexpr int64_t kDay = 86400LL * 1000000000LL;

// Target A, day 1: 900 distinct times, 300 records at one time t (a full step ends inside them)
// and 1,001 at an earlier time (more than one step can bring). Target B: three records on day 0.
std::string storeCsv() {
  std::ostringstream csv;
  for (int i = 0; i < 900; ++i) csv << "A,tick," << kDay + 1000 + i << ",0,1," << i << "\n";
  for (int i = 0; i < 300; ++i) csv << "A,tick," << kDay + 500 << ",0,2,tie" << i << "\n";
  for (int i = 0; i < 1001; ++i) csv << "A,tick," << kDay + 100 << ",0,3,crowd" << i << "\n";
  csv << "B,tick,5,0,1.5,q\nB,tick,6,0,2,a,b\nB,tick,7,0,3,x\n";
  return csv.str();
}

std::map<std::string, std::string> tree(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[fs::relative(entry.path(), dir).string()] = {std::istreambuf_iterator<char>(in), {}};
  }
  return files;
}

class CliDownloadTest : public ::testing::Test {
 protected:
  std::vector<std::string> args(LocalService& service, const std::string& out,
                                std::vector<std::string> extra = {}) {
    std::vector<std::string> a = {"download", "tick", "A",           "B",
                                  "--begin",  "0",    "--log-level", "off"};
    a.insert(a.end(), {"--end", std::to_string(2 * kDay - 1), "--out", (dir_ / out).string(),
                       "--server", service.url()});
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
  }

  int run(const std::vector<std::string>& a, std::string& err) {
    std::string out;
    return runProgram(ORVEX_CLI_PATH, a, out, err);
  }

  Poco::TemporaryFile temp_;  // removed with all below it
  fs::path dir_{temp_.path()};
  LocalService service_{{}, LocalService::fromCsv(storeCsv())};
};

TEST_F(CliDownloadTest, WritesPartitionsRepairsTiesAndResumes) {
  // One record at the tie time twice over.
  LocalService service({}, LocalService::fromCsv(storeCsv() + "A,tick,86400000000500,0,2,tie0\n"));
  std::string err;
  // 1,001 records at one time cannot all be had: the result is incomplete.
  EXPECT_EQ(run(args(service, "d", {"--format", "csv", "--jobs", "2"}), err), 3) << err;
  EXPECT_NE(err.find("4 partitions: 4 complete, 0 already done, 0 failed"), std::string::npos)
      << err;
  auto files = tree(dir_ / "d");
  ASSERT_EQ(files.size(), 8u);
  const std::string& meta = files["tick/A/1970-01-02.meta.json"];
  EXPECT_NE(meta.find("\"records\": 2200"), std::string::npos) << meta;
  EXPECT_NE(meta.find("\"duplicates\": 1,"), std::string::npos) << meta;
  EXPECT_NE(meta.find("\"repaired\": 200"), std::string::npos) << meta;
  EXPECT_NE(err.find("duplicate records written once: 1 ("), std::string::npos);
  EXPECT_NE(meta.find("\"unrecovered\": 1"), std::string::npos) << meta;
  EXPECT_EQ(files["tick/B/1970-01-01.csv"], "time,value,data\n5,1.5,q\n6,2,\"a,b\"\n7,3,x\n");
  EXPECT_EQ(files["tick/B/1970-01-02.csv"], "time,value,data\n");

  // Again: every partition is done. A damaged file fails its hash and is fetched again.
  EXPECT_EQ(run(args(service, "d", {"--format", "csv"}), err), 0) << err;
  EXPECT_NE(err.find("0 complete, 4 already done"), std::string::npos) << err;
  std::ofstream(dir_ / "d/tick/B/1970-01-01.csv", std::ios::app) << "8,1,extra\n";
  // While another download writes that file, this one leaves it alone.
  const int held =
      ::open((dir_ / "d/tick/B/1970-01-01.csv.part").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_EQ(run(args(service, "d", {"--format", "csv"}), err), 1) << err;
  EXPECT_NE(err.find("another download is writing"), std::string::npos) << err;
  ::close(held);
  EXPECT_EQ(run(args(service, "d", {"--format", "csv"}), err), 0) << err;
  EXPECT_NE(err.find("1 complete, 3 already done"), std::string::npos) << err;
  EXPECT_EQ(tree(dir_ / "d"), files);
}

TEST_F(CliDownloadTest, RetriesPassingFailuresAndStopsWhenRefused) {
  const struct {
    const char* fault;
    int status;
    const char* err;
  } cases[] = {
      // Status 3 rather than 0: target A's crowded time stays incomplete.
      {"kind=status,code=503,path=/QryCodeType,first=2", 3, "; 2 retries"},
      {"kind=status,code=503,path=/HeartBeat,first=2", 3, "4 complete"},  // connect is retried too
      {"kind=status,code=503,path=/QryCodeType", 3, "orvex_cli: download tick/A/1970-01-01: "},
      {"kind=status,code=403,path=/QryCodeType", 4, "refused by the service"},
  };
  for (const auto& c : cases) {
    std::string err;
    service_.faults().clear();
    service_.addFault(c.fault);
    const std::string out = "r" + std::to_string(&c - cases);
    EXPECT_EQ(run(args(service_, out, {"--jobs", "1", "--retries", "2"}), err), c.status) << err;
    EXPECT_NE(err.find(c.err), std::string::npos) << c.fault << ": " << err;
  }
}

// A download killed at several moments and resumed, one split in shards, one of the whole
// directory served again and one through failures all end as the same files as one clean run.
TEST_F(CliDownloadTest, KilledShardedServedAgainAndFaultyDownloadsMatchOneRun) {
  std::string err, error;
  run(args(service_, "whole"), err);
  const auto whole = tree(dir_ / "whole");
  run(args(service_, "sharded", {"--shard", "0/3"}), err);
  run(args(service_, "sharded", {"--shard", "1/3"}), err);
  EXPECT_LT(tree(dir_ / "sharded").size(), 8u);
  run(args(service_, "sharded", {"--shard", "2/3"}), err);
  EXPECT_EQ(tree(dir_ / "sharded"), whole);

  LocalService again({}, hqserver::CsvLoader::loadPath((dir_ / "whole").string(), error));
  ASSERT_TRUE(error.empty()) << error;
  run(args(again, "again"), err);
  EXPECT_EQ(tree(dir_ / "again"), whole) << err;

  // Every other request fails, so no attempt gets through a partition: each goes on from where
  // the one before stopped.
  service_.addFault("kind=status,code=503,path=/QryCodeType,every=2");
  run(args(service_, "faulty", {"--jobs", "1", "--retries", "5"}), err);
  auto faulty = tree(dir_ / "faulty");
  for (const auto& [name, bytes] : whole) {
    const bool data = name.find(".meta.json") == std::string::npos;
    EXPECT_TRUE(!data || faulty[name] == bytes) << name << ": " << err;
  }

  service_.faults().clear();
  service_.addFault("kind=delay,ms=150,path=/QryCodeType");
  for (int wait : {100, 400, 900}) {
    auto child =
        ChildProcess::start(ORVEX_CLI_PATH, args(service_, "killed", {"--jobs", "1"}), error);
    ASSERT_TRUE(child) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    child->signal(SIGKILL);
    child->wait();
  }
  service_.faults().clear();
  run(args(service_, "killed"), err);
  EXPECT_EQ(tree(dir_ / "killed"), whole) << err;
}

}  // namespace
}  // namespace test
}  // namespace orvex
