// minimal_host: the smallest complete host of the orvex history plug-in. It sets up logging, the
// configuration and the authentication service, loads the plug-in, creates the history object
// through the factory, and drives it: init, connect, getLastData, getData, a reqData delivered
// through an IHistorySpi, a reqData cancelled from its own callback, release and delete.
//
// Usage: minimal_host URL [TOKEN]   (the plug-in path is fixed at build time: ORVEX_PLUGIN)
#include <dlfcn.h>
#include <log4cxx/basicconfigurator.h>
#include <log4cxx/consoleappender.h>
#include <log4cxx/logger.h>
#include <log4cxx/patternlayout.h>

#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "orvex/CodeConvert.h"
#include "orvex/Environment.h"
#include "orvex/HistoryAPIFactory.h"
#include "orvex/IHistoryApi.h"
#include "orvex/IServiceRouter.h"

namespace {

constexpr int kHistoryTypeId = 5;
constexpr int64_t kSecond = 1000000000;
constexpr int64_t kBegin = 1717464600 * kSecond;  // 2024-06-04 01:30:00 UTC

// Prints `status` and returns true when it is a failure. Messages are GBK text.
bool failed(const char* what, const orvex::ResultStatus& status) {
  if (status.ok()) return false;
  std::fprintf(stderr, "%s: %s: %s\n", what, orvex::codeName(status.code),
               orvex::CodeConvert::gbk_to_utf8(status.msg).c_str());
  return true;
}

void printRecords(const orvex::CloudTopic& topic) {
  for (const orvex::TopicBody& body : topic.bodies) {
    std::printf("  %s %s %lld %g %s\n", topic.target.c_str(), topic.key.c_str(),
                static_cast<long long>(body.time), body.value, body.data.c_str());
  }
}

// Counts the records of one request. Batches arrive on a worker-pool thread, one at a time and in
// order; `done` is kept when the last one has arrived. With `cancel`, it cancels the request
// as soon as the first batch arrives.
class CountingSpi : public orvex::IHistorySpi {
 public:
  explicit CountingSpi(bool* cancel = nullptr) : cancel_(cancel) {}

  void onReqData(int32_t, int64_t, const std::vector<orvex::CloudTopic>& topics,
                 const orvex::ResultStatus& status, bool isLast) override {
    ++batches;
    for (const orvex::CloudTopic& topic : topics) records += topic.bodies.size();
    if (cancel_ != nullptr) orvex::setCancelFlag(*cancel_, true);
    if (isLast) done.set_value(status);
  }

  size_t batches = 0;
  size_t records = 0;
  std::promise<orvex::ResultStatus> done;

 private:
  bool* cancel_;
};

// Runs a range request of one trading day's ticks with `spi` and waits for its last batch.
bool fetchDay(orvex::IHistoryApi& api, int32_t requestId, CountingSpi& spi, bool& cancel) {
  orvex::TopicReq req;
  req.key = "tick";
  req.targets = {"CFFEX.IF2409"};
  req.beginTime = kBegin;
  req.endTime = kBegin + 8 * 3600 * kSecond - 1;
  req.maxCount = 100000;
  if (failed("reqData", api.reqData(req, &spi, requestId, cancel))) return false;
  const orvex::ResultStatus last = spi.done.get_future().get();
  std::printf("reqData %d%s: %zu records in %zu batches, last batch %s\n", requestId,
              orvex::readCancelFlag(cancel) ? " (cancelled)" : "", spi.records, spi.batches,
              last.toString().c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s URL [TOKEN]\n", argv[0]);
    return 2;
  }
  // 1. Before loading: logging (the plug-in's warnings and errors on standard error; its lines
  // carry their own level tag and logger name), the configuration and the credentials.
  log4cxx::BasicConfigurator::configure(std::make_shared<log4cxx::ConsoleAppender>(
      std::make_shared<log4cxx::PatternLayout>("%m%n"), "System.err"));
  log4cxx::Logger::getRootLogger()->setLevel(log4cxx::Level::getWarn());
  if (argc > 2) vantor::Environment::instance().setValue("token", argv[2]);
  orvex::IServiceRouter::instance().setAuthService(std::make_shared<orvex::ConfigAuthService>());

  // 2. Load the plug-in (it registers itself with the factory) and create the history object.
  if (dlopen(ORVEX_PLUGIN, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", ORVEX_PLUGIN, dlerror());
    return 1;
  }
  std::unique_ptr<orvex::IHistoryApi> api(
      HistoryAPIFactory::Instance().CreateObject(kHistoryTypeId));
  if (!api) {
    std::fprintf(stderr, "nothing registered under type id %d\n", kHistoryTypeId);
    return 1;
  }

  // 3. Worker pools, then the service.
  if (failed("init", api->init(2)) || failed("connect", api->connect(argv[1]))) return 1;
  std::printf("connected to %s\n", api->getServerName().c_str());

  // 4. Synchronous lookups.
  std::vector<orvex::CloudTopic> latest;
  if (failed("getLastData", api->getLastData("tick", {"CFFEX.IF2409", "DCE.m2409"}, latest))) {
    return 1;
  }
  std::printf("getLastData: %zu targets\n", latest.size());
  for (const orvex::CloudTopic& topic : latest) printRecords(topic);

  orvex::CloudTopic range;
  if (failed("getData", api->getData(orvex::TopicKey{"CFFEX.IF2409", "kline1m"}, kBegin,
                                     kBegin + 3600 * kSecond, 3, range))) {
    return 1;
  }
  std::printf("getData: %zu records\n", range.bodies.size());
  printRecords(range);

  // 5. Asynchronous requests: one whole, one cancelled by its callback. The callbacks and the
  // cancel flags must outlive every delivery, hence live until after release().
  bool keepGoing = false;
  bool cancel = false;
  CountingSpi whole;
  CountingSpi cancelled(&cancel);
  if (!fetchDay(*api, 1, whole, keepGoing) || !fetchDay(*api, 2, cancelled, cancel)) return 1;

  // 6. Stop the pools, then delete the object. The plug-in stays loaded (RTLD_NODELETE).
  api->release();
  api.reset();
  std::printf("released\n");
  return 0;
}
