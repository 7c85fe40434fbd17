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

#include "orvex/Export.h"
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

class ORVEX_API HistoryWrapper : public orvex::IHistoryApi {
 public:
  HistoryWrapper();
  ~HistoryWrapper() override;

  HistoryWrapper(const HistoryWrapper&) = delete;
  HistoryWrapper& operator=(const HistoryWrapper&) = delete;

  orvex::ResultStatus init(int32_t threadNum) override;
  orvex::ResultStatus connect(const std::string& address) override;
  void release() override;
  orvex::ResultStatus reqData(const orvex::TopicReq& req, orvex::IHistorySpi* spi,
                              int32_t requestId, bool& cancel) override;
  orvex::ResultStatus getLastData(const std::string& type, const std::vector<std::string>& targets,
                                  std::vector<orvex::CloudTopic>& out) override;
  orvex::ResultStatus getData(const orvex::TopicKey& key, int64_t beginTime, int64_t endTime,
                              int32_t maxCount, orvex::CloudTopic& out) override;
  orvex::ResultStatus getDataCache(const orvex::TopicKey& key, orvex::CloudTopic& out) override;
  std::string getServerName() override;

 protected:
  const orvex::HqHistoryApi* getHqHistoryApi() const override;

 private:
  friend class HistoryWrapperTestPeer;

  orvex::ResultStatus reqDataByRange(const orvex::TopicReq& req, int32_t requestId,
                                     const HistoryDataCallback& callback, int32_t maxSteps,
                                     bool& cancel) const;
  orvex::ResultStatus reqDataByPage(const orvex::TopicReq& req, int32_t requestId,
                                    const HistoryDataCallback& callback, int32_t maxSteps,
                                    bool& cancel) const;
  void pushTask(const std::string& key, const std::shared_ptr<orvex::IQuoteTask>& task) const;
  static std::string parseAddress(const std::string& address);

  std::unique_ptr<orvex::HqHistoryApi> historyApi;  // never null while the wrapper lives
  std::unique_ptr<WorkerPoolGroup> poolGroup;       // null until init
  std::string serverName;
};

}  // namespace marketdata
