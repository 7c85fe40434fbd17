// A full session with every log level enabled and an access key, secret and token configured:
// no log line of the process, nothing the process writes to its standard output or error, and no
// line of the service's request log may show any of the three.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <log4cxx/appenderskeleton.h>
#include <log4cxx/helpers/transcoder.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/loggingevent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#include "FakeAuthService.h"
#include "ReliabilitySupport.h"
#include "ScopedEnvironment.h"
#include "hqserver/HqServer.h"

namespace orvex {
namespace test {
namespace reliability {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

const std::string kKey = "AK-reliability-3f9c1e";
const std::string kSecret = "SK-reliability-8d27b4";
const std::string kToken = "TK-reliability-51e0aa";

// Every event of every logger of the process, at every level, while it lives.
class ProcessLogCapture {
 public:
  ProcessLogCapture() : appender_(std::make_shared<Appender>()) {
    root_ = log4cxx::Logger::getRootLogger();
    plugin_ = log4cxx::Logger::getLogger("DaZaviVor");
    rootLevel_ = root_->getLevel();
    pluginLevel_ = plugin_->getLevel();
    root_->setLevel(log4cxx::Level::getAll());
    plugin_->setLevel(log4cxx::Level::getTrace());
    root_->addAppender(appender_);
  }
  ~ProcessLogCapture() {
    root_->removeAppender(appender_);
    root_->setLevel(rootLevel_);
    plugin_->setLevel(pluginLevel_);
  }

  // "LEVEL logger message" per event.
  std::vector<std::string> lines() const { return appender_->lines(); }

 private:
  class Appender : public log4cxx::AppenderSkeleton {
   public:
    void close() override {}
    bool requiresLayout() const override { return false; }
    std::vector<std::string> lines() const {
      std::lock_guard<std::mutex> lock(mutex_);
      return lines_;
    }

   protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override {
      std::string level, logger, text;
      log4cxx::helpers::Transcoder::encode(event->getLevel()->toString(), level);
      log4cxx::helpers::Transcoder::encode(event->getLoggerName(), logger);
      log4cxx::helpers::Transcoder::encode(event->getRenderedMessage(), text);
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(level + " " + logger + " " + text);
    }

   private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
  };

  std::shared_ptr<Appender> appender_;
  log4cxx::LoggerPtr root_;
  log4cxx::LoggerPtr plugin_;
  log4cxx::LevelPtr rootLevel_;
  log4cxx::LevelPtr pluginLevel_;
};

// Sends the process's standard output and error into a file while it lives; what was captured is
// written to the real standard output afterwards, so nothing a test prints is lost.
class StdStreamCapture {
 public:
  explicit StdStreamCapture(std::string path) : path_(std::move(path)) {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = dup(STDOUT_FILENO);
    savedErr_ = dup(STDERR_FILENO);
    FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr) return;
    dup2(fileno(file), STDOUT_FILENO);
    dup2(fileno(file), STDERR_FILENO);
    std::fclose(file);
  }
  // Restores the streams and returns what was written meanwhile.
  std::string finish() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut_, STDOUT_FILENO);
    dup2(savedErr_, STDERR_FILENO);
    close(savedOut_);
    close(savedErr_);
    std::ifstream in(path_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::remove(path_.c_str());
    return text;
  }

 private:
  std::string path_;
  int savedOut_ = -1;
  int savedErr_ = -1;
};

std::string tempPath(const std::string& name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir != nullptr ? dir : "/tmp") + "/orvex-" + std::to_string(getpid()) + "-" +
         name;
}

std::vector<std::string> fileLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool showsACredential(const std::string& text) {
  return text.find(kKey) != std::string::npos || text.find(kSecret) != std::string::npos ||
         text.find(kToken) != std::string::npos;
}

// Runs what a host does in one session, including failures that log at WARN and ERROR.
void runSession(hqserver::HqServer& server) {
  PluginHost host;
  ASSERT_TRUE(host.start(2, server.url()));
  bool cancel = false;
  const std::string target = DataSet::targets()[0];
  EXPECT_EQ(
      host.api()
          .reqData(makeReq("tick", {target}, INT64_MIN, INT64_MAX, 1500), &host.spi(), 1, cancel)
          .code,
      OK);
  EXPECT_EQ(
      host.api()
          .reqData(makeReq("bar", {target}, 0, INT64_MAX, 0, ByModifyTime), &host.spi(), 2, cancel)
          .code,
      OK);
  std::vector<CloudTopic> latest;
  EXPECT_EQ(host.api().getLastData("tick", DataSet::targets(), latest).code, OK);
  CloudTopic range, cached;
  EXPECT_EQ(host.api().getData(TopicKey{target, "tick"}, 0, INT64_MAX, 10, range).code, OK);
  EXPECT_EQ(host.api().getDataCache(TopicKey{target, "tick"}, cached).code, OK);

  // Failures: a token error on every attempt, an unreadable answer, a server error, pacing.
  std::string error;
  server.faults().add(*hqserver::FaultRule::parse("kind=status,code=401,path=/QryLast", error));
  server.faults().add(*hqserver::FaultRule::parse("kind=garbage,path=/getServerVersion", error));
  server.faults().add(
      *hqserver::FaultRule::parse("kind=status,code=500,path=/QryCodeType,first=1", error));
  server.setWaitMsec(1);
  EXPECT_EQ(host.api().getLastData("tick", {target}, latest).code, EN_ICE_NET_ERROR);
  EXPECT_EQ(host.api().connect(server.url()).code, UNKNOWN);
  EXPECT_EQ(
      host.api().reqData(makeReq("tick", {target}, 0, INT64_MAX, 5), &host.spi(), 3, cancel).code,
      EN_ICE_NET_ERROR);
  server.faults().clear();
  server.setWaitMsec(-1);
  host.api().release();
}

TEST(SecretsTest, NoLogLineOutputOrRequestLogLineShowsKeySecretOrToken) {
  ScopedEnvironment env{{"fc_key", kKey}, {"fc_secret", kSecret}, {"token", kToken}};
  auto auth = std::make_shared<FakeAuthService>(kToken);
  ScopedAuthService installed(auth);

  const std::string dataPath = tempPath("secrets-data.csv");
  const std::string requestLog = tempPath("secrets-requests.log");
  { std::ofstream(dataPath, std::ios::binary) << DataSet::csv(); }
  hqserver::ServerOptions options;
  options.token = kToken;
  options.key = kKey;
  options.secret = kSecret;
  options.dataPath = dataPath;
  options.requestLog = requestLog;

  std::vector<std::string> logLines;
  std::string streams;
  {
    ProcessLogCapture log;
    StdStreamCapture out(tempPath("secrets-streams.txt"));
    std::string error;
    std::unique_ptr<hqserver::HqServer> server = hqserver::HqServer::create(options, error);
    if (server && server->start(error)) runSession(*server);
    server.reset();
    streams = out.finish();
    logLines = log.lines();
    ASSERT_TRUE(error.empty()) << error;
  }
  const std::vector<std::string> requests = fileLines(requestLog);
  std::remove(dataPath.c_str());
  std::remove(requestLog.c_str());

  // The checks below only mean something if the session logged at every level and was served.
  EXPECT_THAT(logLines, Contains(HasSubstr("[TRACE] DaZaviVor ")));
  EXPECT_THAT(logLines, Contains(HasSubstr("[DEBUG] DaZaviVor ")));
  EXPECT_THAT(logLines, Contains(HasSubstr("[INFO ] DaZaviVor ")));
  EXPECT_THAT(logLines, Contains(HasSubstr("[WARN ] DaZaviVor ")));
  EXPECT_THAT(logLines, Contains(HasSubstr("[ERROR] DaZaviVor ")));
  EXPECT_GT(auth->tokenFetches(), 0);
  ASSERT_GE(requests.size(), 10u);
  EXPECT_THAT(requests, Contains(HasSubstr("\"kvauth\":\"***\"")));
  EXPECT_THAT(requests, Contains(HasSubstr("\"Authorization\":\"***\"")));

  for (const std::string& line : logLines) EXPECT_FALSE(showsACredential(line)) << line;
  EXPECT_FALSE(showsACredential(streams)) << streams;
  for (const std::string& line : requests) EXPECT_FALSE(showsACredential(line)) << line;
}

}  // namespace
}  // namespace reliability
}  // namespace test
}  // namespace orvex
