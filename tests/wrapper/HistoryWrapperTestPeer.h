// Reaches the wrapper's private operations from tests.
#pragma once

#include <memory>
#include <string>

#include "marketdata/HistoryWrapper.h"

namespace marketdata {

class HistoryWrapperTestPeer {
 public:
  static void pushTask(const HistoryWrapper& wrapper, const std::string& key,
                       const std::shared_ptr<orvex::IQuoteTask>& task) {
    wrapper.pushTask(key, task);
  }
  static std::string parseAddress(const std::string& address) {
    return HistoryWrapper::parseAddress(address);
  }
  static orvex::ResultStatus reqDataByRange(const HistoryWrapper& wrapper,
                                            const orvex::TopicReq& req, int32_t requestId,
                                            const HistoryDataCallback& callback, int32_t maxSteps,
                                            bool& cancel) {
    return wrapper.reqDataByRange(req, requestId, callback, maxSteps, cancel);
  }
  static orvex::ResultStatus reqDataByPage(const HistoryWrapper& wrapper,
                                           const orvex::TopicReq& req, int32_t requestId,
                                           const HistoryDataCallback& callback, int32_t maxSteps,
                                           bool& cancel) {
    return wrapper.reqDataByPage(req, requestId, callback, maxSteps, cancel);
  }
};

}  // namespace marketdata
