// The host's history interface, implemented by the plug-in.
//
// The host calls init, connect, any number of requests (from any threads, concurrently), release
// and finally deletes the object. init, connect, release and destruction must not overlap
// requests; what may be called from inside a delivery is told in IHistorySpi.h. The cancel flag of
// reqData is set and read through the helpers of orvex/CancelFlag.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orvex/CancelFlag.h"
#include "orvex/IHistorySpi.h"
#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {

class HqHistoryApi;

class IHistoryApi {
 public:
  virtual ~IHistoryApi() = default;                                   // slot 0
  virtual ResultStatus init(int32_t threadNum) = 0;                   // slot 1
  virtual ResultStatus connect(const std::string& address) = 0;       // slot 2
  virtual void release() = 0;                                         // slot 3
  virtual ResultStatus reqData(const TopicReq& req, IHistorySpi* spi, int32_t requestId,
                               bool& cancel) = 0;                     // slot 4
  virtual ResultStatus getLastData(const std::string& type, const std::vector<std::string>& targets,
                                   std::vector<CloudTopic>& out) = 0;  // slot 5
  virtual ResultStatus getData(const TopicKey& key, int64_t beginTime, int64_t endTime,
                               int32_t maxCount, CloudTopic& out) = 0;  // slot 6
  virtual ResultStatus getDataCache(const TopicKey& key, CloudTopic& out) = 0;  // slot 7
  virtual std::string getServerName() = 0;                                    // slot 8

 protected:
  virtual const HqHistoryApi* getHqHistoryApi() const = 0;  // slot 9
};

}  // namespace orvex
