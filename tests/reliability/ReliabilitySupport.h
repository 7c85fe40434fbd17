// Shared pieces of the reliability suites: a small data set for the local service, the records
// each kind of request must bring, and checks of a request's deliveries that must hold whatever
// faults the service injected.
//
// The checks only read what they are given; the data set is built once per process and then only
// read, so every function here may be called from several threads.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "LocalService.h"
#include "PluginLoader.h"
#include "RecordingHistorySpi.h"
#include "orvex/IHistoryApi.h"
#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {
namespace test {
namespace reliability {

// Upper bound of every wait for deliveries; reached only when something hangs.
constexpr std::chrono::seconds kDeliveryWait{120};

// One record as the checks compare it: target, time and data text.
using RecordId = std::tuple<std::string, int64_t, std::string>;

// The data set: key "tick" with kTickCount records per target one millisecond apart, and key
// "bar" with kBarCount records per target one minute apart whose modification times run in the
// opposite order of their times.
struct DataSet {
  static constexpr int64_t kBase = 1700000000LL * 1000000000LL;
  static constexpr int64_t kTickStep = 1000000;
  static constexpr int64_t kBarStep = 60LL * 1000000000LL;
  static constexpr int kTickCount = 2500;
  static constexpr int kBarCount = 600;

  static const std::vector<std::string>& targets();
  static std::shared_ptr<const hqserver::DataStore> store();
  // The same records in the service's CSV form (target,key,time,mtm,value,data).
  static const std::string& csv();
  static int64_t lastTickTime() { return kBase + (kTickCount - 1) * kTickStep; }

  // The newest `maxCount` records of (target, key) with begin <= time <= end, oldest first.
  static std::vector<RecordId> range(const std::string& target, const std::string& key,
                                     int64_t begin, int64_t end, int64_t maxCount);
  // The records a paged request walks through: those of `key` and `targets` (every target when
  // empty) with beginMtm <= modification time <= endMtm, ordered by target, then time.
  static std::vector<RecordId> pages(const std::string& key, std::vector<std::string> targets,
                                     int64_t beginMtm, int64_t endMtm);
  // The newest record of each of `targets` that has one under `key`, in the order given.
  static std::vector<RecordId> latest(const std::string& key,
                                      const std::vector<std::string>& targets);
};

TopicReq makeReq(const std::string& key, std::vector<std::string> targets, int64_t begin,
                 int64_t end, int32_t maxCount, uint32_t flags = 0);

std::vector<RecordId> idsOf(const std::vector<CloudTopic>& topics);
std::vector<RecordId> idsOf(const CloudTopic& topic);

// Wait until a request's deliveries are complete; false at kDeliveryWait. A range request ends
// with its final batch; a page request with its last page or with a failed page, after which no
// page follows.
bool awaitRangeEnd(const RecordingHistorySpi& spi, int32_t requestId);
bool awaitPageEnd(const RecordingHistorySpi& spi, int32_t requestId);

// A range request's deliveries, whatever went wrong on the way: one batch per step, in order, on
// one pool thread; every step OK but a failing last one; then exactly one final batch (empty,
// isLast, mtmValue 0) carrying the result. The records, newest block first, are the newest part
// of `expected`, all of it when the result is OK.
::testing::AssertionResult rangeDeliveriesHold(const std::vector<Delivery>& got,
                                               const ResultStatus& result,
                                               const std::vector<RecordId>& expected);

// A page request's deliveries: pages in order on one pool thread, every page OK but a failing
// last one whose status is the result; with result OK the last page has isLast and no other has;
// every page carries page 0's mtmValue. The records are the first part of `expected`, all of it
// when the result is OK.
::testing::AssertionResult pageDeliveriesHold(const std::vector<Delivery>& got,
                                              const ResultStatus& result,
                                              const std::vector<RecordId>& expected);

// A failure the host can act on: a code other than OK and a message that says something.
::testing::AssertionResult isClearFailure(const ResultStatus& status);

// The plug-in loaded as the host loads it, one wrapper with `pools` worker pools, connected to
// `service`. Destroys the wrapper (which delivers what is queued) before the spi.
class PluginHost {
 public:
  PluginHost();
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // Loads the plug-in and makes the wrapper; failures are reported as test failures.
  ::testing::AssertionResult start(int pools, const std::string& address);
  IHistoryApi& api() { return *api_; }
  RecordingHistorySpi& spi() { return spi_; }
  // Deletes the wrapper through its virtual destructor, as a host does.
  void destroy() { api_.reset(); }

 private:
  PluginLoader loader_;
  RecordingHistorySpi spi_;
  std::unique_ptr<IHistoryApi> api_;
};

// A free loopback port at the time of the call, for a service that must come back on its old
// address.
uint16_t freeLoopbackPort();

}  // namespace reliability
}  // namespace test
}  // namespace orvex
