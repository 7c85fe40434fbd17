#include "PrintingSpi.h"

namespace orvex {
namespace cli {

void PrintingSpi::onReqData(int32_t /*requestId*/, int64_t /*mtmValue*/,
                            const std::vector<CloudTopic>& topics, const ResultStatus& /*status*/,
                            bool /*isLast*/) {
  uint64_t count = 0;
  for (const CloudTopic& topic : topics) count += topic.bodies.size();
  std::lock_guard<std::mutex> lock(mutex_);
  writer_.write(topics);
  records_ += count;
  ++batches_;
}

}  // namespace cli
}  // namespace orvex
