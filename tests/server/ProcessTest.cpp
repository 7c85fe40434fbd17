// The service as a program: started on an ephemeral port, queried with curl, stopped by signal.
#include <Poco/URI.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "ChildProcess.h"
#include "LocalService.h"
#include "hqserver/QueryService.h"

namespace orvex {
namespace test {
namespace {

std::string curl(std::vector<std::string> args) {
  args.insert(args.begin(), {"-s", "--max-time", "30"});
  std::string out, err;
  EXPECT_EQ(runProgram("curl", args, out, err), 0) << err;
  return out;
}

TEST(ProcessTest, AnnouncesItsAddressServesCurlAndStopsOnSigterm) {
  std::string error;
  auto server = ChildProcess::start(ORVEX_HQSERVER_PATH,
                                    {"--port", "0", "--token", "t0k", "--wait-msec", "5"}, error);
  ASSERT_TRUE(server) << error;
  ASSERT_TRUE(server->waitForStdoutLines(1, std::chrono::seconds(60))) << server->err();
  const std::string line = server->out().substr(0, server->out().find('\n'));
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
  server->signal(SIGTERM);
  EXPECT_EQ(server->wait(), 0);
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
    std::string out, err;
    EXPECT_EQ(runProgram(ORVEX_HQSERVER_PATH, args, out, err), exitCode) << args[0];
    EXPECT_NE(err.find(message), std::string::npos) << err;
    EXPECT_EQ(out.find("--page-size") != std::string::npos, args[0] == "--help") << out;
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace test
}  // namespace orvex
