// The plug-in's implementation of the host's IHistoryApi.
//
// Requests run wholly on the calling thread; their batches reach the host's IHistorySpi through
// worker pools, the batches of one request in order. Several host threads may issue requests at
// once; init, connect, release and destruction must not overlap requests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "orvex/HistoryExport.h"
#include "orvex/IHistoryApi.h"
#include "orvex/IQuoteTask.h"
#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {
class HqHistoryApi;
}

namespace marketdata {

class WorkerPoolGroup;

// How both request drivers hand over batches: (mtmValue, topics, status, isLast).
using HistoryDataCallback = std::function<void(int64_t, const std::vector<orvex::CloudTopic>&,
                                               const orvex::ResultStatus&, bool)>;

class ORVEX_HISTORY_API HistoryWrapper : public orvex::IHistoryApi {
 public:
  HistoryWrapper();
  ~HistoryWrapper() override;

  HistoryWrapper(const HistoryWrapper&) = delete;
  HistoryWrapper& operator=(const HistoryWrapper&) = delete;

  // Makes and starts `threadNum` worker pools, one thread each; OK. A `threadNum` below 1 is
  // refused with INVALID_PARAM and changes nothing. A second call stops the earlier pools (their
  // queued deliveries still run), frees them, then makes the new ones.
  orvex::ResultStatus init(int32_t threadNum) override;
  // Starts the client on `address` ("http://" is put in front unless it names one of the
  // schemes http, https, tcp, udp, ws, wss, ssl) with four sessions, then asks the service for
  // its name. Returns the start-up failure unchanged (no name is asked for then), otherwise the
  // name probe's result; a failure leaves the name as it was.
  orvex::ResultStatus connect(const std::string& address) override;
  // Stops every pool after it has run what it holds; the pools stay owned. Any number of times.
  void release() override;
  // Fetches the request on this thread and returns the final status. Every batch is copied and
  // handed to `spi` on the pool chosen by the first target and the key, in order; `spi` must
  // outlive those deliveries and is never deleted. Without pools (before init) the deliveries are
  // dropped. A null `spi` is refused with INVALID_PARAM before anything is fetched. `cancel` is
  // only read, between service calls; another thread may set it (orvex::setCancelFlag).
  orvex::ResultStatus reqData(const orvex::TopicReq& req, orvex::IHistorySpi* spi,
                              int32_t requestId, bool& cancel) override;
  // The latest record of each target, asked for 500 targets at a time and appended to `out`.
  // A failing batch does not stop the others; the last failure is returned.
  orvex::ResultStatus getLastData(const std::string& type, const std::vector<std::string>& targets,
                                  std::vector<orvex::CloudTopic>& out) override;
  // At most `maxCount` of the latest records of one target in [beginTime, endTime] (at most 100
  // service calls), ascending, put in front of the bodies `out` already holds.
  orvex::ResultStatus getData(const orvex::TopicKey& key, int64_t beginTime, int64_t endTime,
                              int32_t maxCount, orvex::CloudTopic& out) override;
  // The client's cached latest record of one topic, unchanged.
  orvex::ResultStatus getDataCache(const orvex::TopicKey& key, orvex::CloudTopic& out) override;
  // The name the last successful connect received; "" before.
  std::string getServerName() override;

 protected:
  const orvex::HqHistoryApi* getHqHistoryApi() const override;

 private:
  friend class HistoryWrapperTestPeer;

  // Walks one target's range backwards from its end in steps of at most 1000 records (at most
  // `maxSteps` steps), hands each step's records to `callback`, then an empty batch with isLast.
  // Returns the last step's status; INVALID_PARAM without any call unless there is one target.
  orvex::ResultStatus reqDataByRange(const orvex::TopicReq& req, int32_t requestId,
                                     const HistoryDataCallback& callback, int32_t maxSteps,
                                     bool& cancel) const;
  // Asks for page after page (at most `maxSteps`) until the service marks the last page or a
  // page fails; each page goes to `callback` with the first page's name mark. Returns the last
  // page's status.
  orvex::ResultStatus reqDataByPage(const orvex::TopicReq& req, int32_t requestId,
                                    const HistoryDataCallback& callback, int32_t maxSteps,
                                    bool& cancel) const;
  // Submits `task` to the pool chosen by `key`; drops it when there are no pools.
  void pushTask(const std::string& key, const std::shared_ptr<orvex::IQuoteTask>& task) const;
  static std::string parseAddress(const std::string& address);

  std::unique_ptr<orvex::HqHistoryApi> historyApi;  // never null while the wrapper lives
  std::unique_ptr<WorkerPoolGroup> poolGroup;       // null until init
  std::string serverName;
};

}  // namespace marketdata
