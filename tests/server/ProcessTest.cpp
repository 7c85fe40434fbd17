// The service as a program: started on an ephemeral port, queried with curl, stopped by signal.
#include <Poco/Pipe.h>
#include <Poco/PipeStream.h>
#include <Poco/Process.h>
#include <Poco/StreamCopier.h>
#include <Poco/URI.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "LocalService.h"
#include "hqserver/QueryService.h"

namespace orvex {
namespace test {
namespace {

struct Finished {
  int exitCode;
  std::string out, err;
};

Finished runToEnd(const std::string& program, const std::vector<std::string>& args) {
  Poco::Pipe out, err;
  Poco::ProcessHandle handle = Poco::Process::launch(program, args, nullptr, &out, &err);
  Poco::PipeInputStream outStream(out), errStream(err);
  Finished run{-1, "", ""};
  Poco::StreamCopier::copyToString(outStream, run.out);
  Poco::StreamCopier::copyToString(errStream, run.err);
  run.exitCode = handle.wait();
  return run;
}

std::string curl(std::vector<std::string> args) {
  args.insert(args.begin(), {"-s", "--max-time", "30"});
  Finished run = runToEnd("curl", args);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return run.out;
}

TEST(ProcessTest, AnnouncesItsAddressServesCurlAndStopsOnSigterm) {
  Poco::Pipe out;
  Poco::ProcessHandle handle = Poco::Process::launch(
      ORVEX_HQSERVER_PATH, {"--port", "0", "--token", "t0k", "--wait-msec", "5"}, nullptr, &out,
      nullptr);
  struct Stop {  // the program, however the test ends
    Poco::ProcessHandle& handle;
    ~Stop() {
      if (Poco::Process::isRunning(handle)) Poco::Process::kill(handle);
      if (Poco::Process::isRunning(handle)) handle.wait();
    }
  } stop{handle};
  std::string line;
  Poco::PipeInputStream stream(out);
  std::getline(stream, line);
  ASSERT_EQ(line.rfind("listening on http://127.0.0.1:", 0), 0u) << line;
  const std::string url = line.substr(line.rfind(' ') + 1);

  const std::string query = "/QryLast?codes=SHFE.rb2410%2CDCE.m2409%2C&types=tick";
  const std::string latest = curl({"-H", "kvauth: t0k", url + query});
  EXPECT_EQ(std::count(latest.begin(), latest.end(), '\n'), 2) << latest;
  // The program serves the embedded data set, as the in-process service does.
  hqserver::QueryService local(LocalService::embeddedData(), 1000, "local");
  EXPECT_EQ(latest, local.handle("/QryLast", Poco::URI(query).getQueryParameters()).body);
  const std::string head = curl({"-i", "-H", "kvauth: t0k", url + "/HeartBeat"});
  EXPECT_NE(head.find("kv_reqwait_msec: 5"), std::string::npos) << head;
  EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", url + "/HeartBeat"}), "401");
  EXPECT_EQ(curl({"-o", "/dev/null", "-w", "%{http_code}", "-H", "kvauth: t0k",
                  url + "/QryCodeType?types=tick"}),
            "400");
  ::kill(handle.id(), SIGTERM);
  EXPECT_EQ(handle.wait(), 0);
}

TEST(ProcessTest, RefusesBadArgumentsAndMalformedDataWithAMessage) {
  const std::string path = std::filesystem::temp_directory_path() /
                           ("hqserver-bad-" + std::to_string(getpid()) + ".csv");
  std::ofstream(path) << "a,k,1,1,1,ok\na,k,1,1,one,bad\n";
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      {{"--port", "http"}, 2, "usage:"},
      {{"--key", "k"}, 2, "usage:"},
      {{"--page-size", "0"}, 2, "usage:"},
      {{"--fault", "kind=maybe"}, 2, "usage:"},
      {{"--data", path}, 1, path + ":2: value is not a number"},
      {{"--help"}, 0, ""}};
  for (const auto& [args, exitCode, message] : cases) {
    Finished run = runToEnd(ORVEX_HQSERVER_PATH, args);
    EXPECT_EQ(run.exitCode, exitCode) << args[0];
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  std::filesystem::remove(path);
  EXPECT_NE(runToEnd(ORVEX_HQSERVER_PATH, {"--help"}).out.find("--page-size"), std::string::npos);
}

}  // namespace
}  // namespace test
}  // namespace orvex
