#include "marketdata/WrapperReqDataTask.h"

#include <utility>

namespace orvex {

WrapperReqDataTask::WrapperReqDataTask(bool last, int32_t id, int64_t mtm,
                                       std::vector<CloudTopic> batch, ResultStatus result,
                                       IHistorySpi* callback)
    : isLast(last),
      requestId(id),
      mtmValue(mtm),
      topics(std::move(batch)),
      status(std::move(result)),
      spi(callback) {}

WrapperReqDataTask::~WrapperReqDataTask() = default;

void WrapperReqDataTask::run() {
  if (spi == nullptr) return;
  spi->onReqData(requestId, mtmValue, topics, status, isLast);
}

}  // namespace orvex
