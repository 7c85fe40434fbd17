// The service as a program: started on an ephemeral port, queried with curl, stopped by signal.
#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <Poco/StreamCopier.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "LocalService.h"
#include "orvex/TopicUtils.h"

namespace orvex {
namespace test {
namespace {

struct Finished {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs `program` to its end and collects what it wrote.
Finished runToEnd(const std::string& program, const std::vector<std::string>& args) {
  Poco::Pipe out, err;
  Poco::ProcessHandle handle = Poco::Process::launch(program, args, nullptr, &out, &err);
  Poco::PipeInputStream outStream(out), errStream(err);
  Finished run;
  Poco::StreamCopier::copyToString(outStream, run.out);
  Poco::StreamCopier::copyToString(errStream, run.err);
  run.exitCode = handle.wait();
  return run;
}

std::string curl(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"-s", "--max-time", "30"};
  all.insert(all.end(), args.begin(), args.end());
  Finished run = runToEnd("curl", all);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return run.out;
}

// The service program, running until destroyed or stopped.
class ServiceProcess {
 public:
  explicit ServiceProcess(std::vector<std::string> args)
      : handle_(Poco::Process::launch(ORVEX_HQSERVER_PATH, args, nullptr, &out_, &err_)),
        outStream_(out_) {
    std::getline(outStream_, firstLine_);
  }
  ~ServiceProcess() {
    if (running_) {
      Poco::Process::kill(handle_);
      handle_.wait();
    }
  }
  const std::string& firstLine() const { return firstLine_; }
  std::string url() const { return firstLine_.substr(firstLine_.rfind(' ') + 1); }
  // Sends SIGTERM and returns the exit code.
  int terminate() {
    ::kill(handle_.id(), SIGTERM);
    running_ = false;
    return handle_.wait();
  }

 private:
  Poco::Pipe out_, err_;
  Poco::ProcessHandle handle_;
  Poco::PipeInputStream outStream_;
  std::string firstLine_;
  bool running_ = true;
};

TEST(ProcessTest, AnnouncesItsAddressServesCurlAndStopsOnSigterm) {
  ServiceProcess service({"--port", "0", "--token", "t0k", "--name", "proc", "--wait-msec", "5"});
  ASSERT_EQ(service.firstLine().rfind("listening on http://127.0.0.1:", 0), 0u)
      << service.firstLine();

  const std::string latest =
      curl({"-H", "kvauth: t0k",
            service.url() + "/QryLast?codes=SHFE.rb2410%2CDCE.m2409%2C&types=tick"});
  std::vector<CloudTopic> topics;
  ASSERT_TRUE(TopicUtils::basicRec2Topics(latest, "tick", topics)) << latest;
  ASSERT_EQ(topics.size(), 2u);
  // The program's embedded data is the one the tests build: deterministic.
  auto store = LocalService::embeddedData();
  const auto* rb = store->find("SHFE.rb2410", "tick");
  const auto& expected = rb->records.back().body;
  EXPECT_EQ(topics[0].target, "SHFE.rb2410");
  ASSERT_EQ(topics[0].bodies.size(), 1u);
  EXPECT_EQ(topics[0].bodies[0].time, expected.time);
  EXPECT_EQ(topics[0].bodies[0].value, expected.value);
  EXPECT_EQ(topics[0].bodies[0].data, expected.data);

  const std::string head = curl({"-i", "-H", "kvauth: t0k", service.url() + "/HeartBeat"});
  EXPECT_NE(head.find("kv_reqwait_msec: 5"), std::string::npos) << head;
  EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", service.url() + "/HeartBeat"}), "401");
  EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", "-H", "kvauth: t0k",
                  service.url() + "/QryCodeType?types=tick"}),
            "400");
  EXPECT_EQ(service.terminate(), 0);
}

TEST(ProcessTest, BadArgumentsPrintUsageAndExitWith2) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--port", "http"},
                                                                {"--key", "k"},
                                                                {"--frobnicate"},
                                                                {"--page-size", "0"},
                                                                {"--fault", "kind=maybe"},
                                                                {"--port"}}) {
    Finished run = runToEnd(ORVEX_HQSERVER_PATH, args);
    EXPECT_EQ(run.exitCode, 2) << args[0];
    EXPECT_NE(run.err.find("usage:"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
  Finished help = runToEnd(ORVEX_HQSERVER_PATH, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--page-size"), std::string::npos);
}

TEST(ProcessTest, RefusesAMalformedDataFileNamingFileAndLine) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("hqserver-bad-" + std::to_string(getpid()) + ".csv");
  std::ofstream(path) << "a,k,1,1,1,ok\na,k,1,1,one,bad\n";
  Finished run = runToEnd(ORVEX_HQSERVER_PATH, {"--data", path.string()});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(path.string() + ":2: value is not a number"), std::string::npos)
      << run.err;
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace test
}  // namespace orvex
