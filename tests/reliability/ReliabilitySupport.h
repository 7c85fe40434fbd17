// Shared pieces of the reliability suites: a small data set for the local service, the records
// each request must bring, and checks of a request's deliveries that hold whatever faults the
// service injected. Everything here may be called from several threads.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "LocalService.h"
#include "PluginLoader.h"
#include "RecordingHistorySpi.h"
#include "orvex/IHistoryApi.h"

namespace orvex::test::reliability {

using RecordId = std::tuple<std::string, int64_t, std::string>;  // target, time, data

// Key "tick": kTickCount records per target 1 ms apart. Key "bar": kBarCount records per target
// 1 min apart whose modification times run opposite to their times.
struct DataSet {
  static constexpr int64_t kBase = 1700000000LL * 1000000000LL;
  static constexpr int64_t kTickStep = 1000000;
  static constexpr int kTickCount = 2500;
  static constexpr int kBarCount = 600;

  static const std::vector<std::string>& targets();
  static std::shared_ptr<const hqserver::DataStore> store();
  static int64_t lastTickTime() { return kBase + (kTickCount - 1) * kTickStep; }
  // The newest `maxCount` records with begin <= time <= end, oldest first.
  static std::vector<RecordId> range(const std::string& target, const std::string& key,
                                     int64_t begin, int64_t end, int64_t maxCount);
  // Records with beginMtm <= mtm <= endMtm of `targets` (all when empty), by target then time.
  static std::vector<RecordId> pages(const std::string& key, std::vector<std::string> targets,
                                     int64_t beginMtm, int64_t endMtm);
  // The newest record of each target that has one, in the order given.
  static std::vector<RecordId> latest(const std::string& key,
                                      const std::vector<std::string>& targets);
};

std::vector<RecordId> idsOf(const std::vector<CloudTopic>& topics);

// Range path: one batch per step in order, every step OK but a failing last one, then one empty
// final batch (isLast, mtmValue 0) carrying the result; the records are the newest part of what
// the data set holds for the request. Page path: pages in order, every page OK but a failing last
// one carrying the result, isLast on the last page when OK, one mtmValue throughout; the records
// are the first part of the expected ones. Either way all records when OK, and one pool thread,
// not the caller's.
::testing::AssertionResult deliveriesHold(const std::vector<Delivery>& got,
                                          const ResultStatus& result, const TopicReq& req);
// A code other than OK and a message that says something.
::testing::AssertionResult isClearFailure(const ResultStatus& status);

// The local service and the plug-in loaded as a host loads it, connected to it. Destroyed in
// reverse order of the members: the wrapper first, then the spi, the service last.
struct PluginHost {
  std::unique_ptr<LocalService> service;
  PluginLoader loader;
  RecordingHistorySpi spi;
  std::unique_ptr<IHistoryApi> api;

  // Starts the service on `store` with `options`, then a wrapper with `pools` connected to it.
  ::testing::AssertionResult start(
      int pools, const hqserver::ServerOptions& options = hqserver::ServerOptions(),
      std::shared_ptr<const hqserver::DataStore> store = DataSet::store());
  // reqData, then waits for the end of its deliveries and checks them.
  ResultStatus run(const TopicReq& req, int32_t requestId);
};

}  // namespace orvex::test::reliability
