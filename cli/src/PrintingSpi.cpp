#include "PrintingSpi.h"

namespace orvex {
namespace cli {

void PrintingSpi::onReqData(int32_t /*requestId*/, int64_t /*mtmValue*/,
                            const std::vector<CloudTopic>& topics, const ResultStatus& /*status*/,
                            bool isLast) {
  sink_.write(topics);
  if (isLast) ++lastBatches_;
}

}  // namespace cli
}  // namespace orvex
