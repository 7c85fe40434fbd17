// The plug-in's implementation of the host's IHistoryApi.
//
// Requests run wholly on the calling thread; their batches reach the host's IHistorySpi through
// worker pools, the batches of one request in order. Several host threads may issue requests at
// once; init, connect, release and destruction must not overlap requests, with one exception: from
// inside onReqData (on a pool thread) the host may release, init again or delete the wrapper, also
// in the callback that receives the last batch while reqData is still returning. No exception
// leaves an operation: what escapes is logged at ERROR and returned as EN_ICE_SERVER_EXCEPTION.
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
  // The largest number of worker pools init makes.
  static constexpr int32_t kMaxThreadNum = 256;

  HistoryWrapper();
  // Releases, frees the client and the pools. On a pool thread (from onReqData) the pools are
  // stopped and freed on a thread of their own once the running delivery has returned.
  ~HistoryWrapper() override;

  HistoryWrapper(const HistoryWrapper&) = delete;
  HistoryWrapper& operator=(const HistoryWrapper&) = delete;

  // Makes and starts `threadNum` worker pools, one thread each; OK. A `threadNum` outside 1 to
  // kMaxThreadNum is refused with INVALID_PARAM and nothing is made. A pool that does not start
  // fails the call with its status and the new pools are freed. Otherwise a second call replaces
  // the earlier pools, which first run what they hold (on a pool thread: without waiting).
  orvex::ResultStatus init(int32_t threadNum) override;
  // Starts the client on `address` ("http://" is put in front unless it names one of the
  // schemes http, https, tcp, udp, ws, wss, ssl) with four sessions, then asks the service for
  // its name. Returns the start-up failure unchanged (no name is asked for then), otherwise the
  // name probe's result; a failure leaves the name as it was.
  orvex::ResultStatus connect(const std::string& address) override;
  // Stops every pool after it has run what it holds; the pools stay owned. Any number of times.
  // On a pool thread (from onReqData) it returns at once and the pools drain on their own.
  void release() override;
  // Fetches the request on this thread and returns the final status. Every batch is copied and
  // handed to `spi` on the pool chosen by the first target and the key, in order; `spi` must
  // outlive those deliveries and is never deleted. Without pools (before init) the deliveries are
  // dropped; a delivery a pool refuses is logged at ERROR. A null `spi` is refused with
  // INVALID_PARAM before anything is fetched. `cancel` is only read, between service calls;
  // another thread may set it (orvex::setCancelFlag). After an exception the host still receives
  // a last batch (isLast) carrying EN_ICE_SERVER_EXCEPTION unless the last batch was already sent.
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
  // Runs the driver of `req`; sets `lastQueued` once the batch with isLast is queued.
  orvex::ResultStatus fetch(const orvex::TopicReq& req, orvex::IHistorySpi* spi, int32_t requestId,
                            bool& cancel, bool& lastQueued) const;
  // Copies one batch into a task for `spi` and queues it under `key`; logs at ERROR, with the
  // request number and the record count, a batch that a pool refuses.
  void deliver(const std::string& key, orvex::IHistorySpi* spi, int32_t requestId, int64_t mtmValue,
               const std::vector<orvex::CloudTopic>& topics, const orvex::ResultStatus& status,
               bool isLast) const;
  // Submits `task` to the pool chosen by `key` and returns the pool's answer. Before init there
  // are no pools and the task is dropped (OK).
  orvex::ResultStatus pushTask(const std::string& key,
                               const std::shared_ptr<orvex::IQuoteTask>& task) const;
  orvex::ResultStatus makePools(int32_t threadNum);
  orvex::ResultStatus lastDataOf(const std::string& type, const std::vector<std::string>& targets,
                                 std::vector<orvex::CloudTopic>& out) const;
  orvex::ResultStatus rangeOf(const orvex::TopicKey& key, int64_t beginTime, int64_t endTime,
                              int32_t maxCount, orvex::CloudTopic& out) const;
  void stopPools() const;
  static std::string parseAddress(const std::string& address);

  std::unique_ptr<orvex::HqHistoryApi> historyApi;  // never null while the wrapper lives
  // Null until init. Read and replaced with the atomic shared_ptr operations: a delivery may
  // replace or drop it on a pool thread while the request that queued it is still returning.
  std::shared_ptr<WorkerPoolGroup> poolGroup;
  std::string serverName;
};

}  // namespace marketdata
