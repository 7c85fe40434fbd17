// The synchronous lookups: answered on the calling thread, without pools or IHistorySpi.
#include <algorithm>
#include <iterator>
#include <utility>

#include "ExceptionBarrier.h"
#include "marketdata/HistoryWrapper.h"
#include "orvex/HqHistoryApi.h"

namespace marketdata {

namespace {

constexpr size_t kLastDataBatch = 500;
constexpr int32_t kGetDataMaxSteps = 100;

}  // namespace

orvex::ResultStatus HistoryWrapper::getLastData(const std::string& type,
                                                const std::vector<std::string>& targets,
                                                std::vector<orvex::CloudTopic>& out) {
  return ExceptionBarrier::run("getLastData", [&] { return lastDataOf(type, targets, out); });
}

orvex::ResultStatus HistoryWrapper::lastDataOf(const std::string& type,
                                               const std::vector<std::string>& targets,
                                               std::vector<orvex::CloudTopic>& out) const {
  orvex::ResultStatus status;
  // At most one record per target: growing `out` batch by batch would move it many times.
  out.reserve(out.size() + targets.size());
  // A failing batch does not stop the others; the last failure is the result.
  for (size_t first = 0; first < targets.size(); first += kLastDataBatch) {
    const size_t end = std::min(targets.size(), first + kLastDataBatch);
    const std::vector<std::string> batch(targets.begin() + static_cast<std::ptrdiff_t>(first),
                                         targets.begin() + static_cast<std::ptrdiff_t>(end));
    std::vector<orvex::CloudTopic> rsp;
    orvex::ResultStatus result = historyApi->getLastData(type, batch, rsp);
    if (result.code != orvex::OK) status = std::move(result);
    out.insert(out.end(), std::make_move_iterator(rsp.begin()), std::make_move_iterator(rsp.end()));
  }
  return status;
}

orvex::ResultStatus HistoryWrapper::getData(const orvex::TopicKey& key, int64_t beginTime,
                                            int64_t endTime, int32_t maxCount,
                                            orvex::CloudTopic& out) {
  return ExceptionBarrier::run("getData",
                               [&] { return rangeOf(key, beginTime, endTime, maxCount, out); });
}

orvex::ResultStatus HistoryWrapper::rangeOf(const orvex::TopicKey& key, int64_t beginTime,
                                            int64_t endTime, int32_t maxCount,
                                            orvex::CloudTopic& out) const {
  out.target = key.target;
  out.key = key.key;

  orvex::TopicReq req;
  req.key = key.key;
  req.targets.push_back(key.target);
  req.beginTime = beginTime;
  req.endTime = endTime;
  req.maxCount = maxCount;
  req.flags = 0;

  // Each delivered block goes in front of the ones before it; the driver delivers the newest
  // block first, so the result is in ascending time order. The blocks are laid out once at the
  // end instead of shifting `out.bodies` at every block.
  std::vector<std::vector<orvex::TopicBody>> blocks;
  size_t fetched = 0;
  const HistoryDataCallback collect = [&blocks, &fetched](
                                          int64_t, const std::vector<orvex::CloudTopic>& topics,
                                          const orvex::ResultStatus&, bool) {
    for (const orvex::CloudTopic& topic : topics) {
      if (topic.bodies.empty()) continue;
      blocks.push_back(topic.bodies);
      fetched += topic.bodies.size();
    }
  };
  bool cancel = false;
  const orvex::ResultStatus status = reqDataByRange(req, 0, collect, kGetDataMaxSteps, cancel);

  if (!blocks.empty()) {
    std::vector<orvex::TopicBody> bodies;
    bodies.reserve(fetched + out.bodies.size());
    for (auto block = blocks.rbegin(); block != blocks.rend(); ++block) {
      bodies.insert(bodies.end(), std::make_move_iterator(block->begin()),
                    std::make_move_iterator(block->end()));
    }
    bodies.insert(bodies.end(), std::make_move_iterator(out.bodies.begin()),
                  std::make_move_iterator(out.bodies.end()));
    out.bodies = std::move(bodies);
  }
  return status;
}

orvex::ResultStatus HistoryWrapper::getDataCache(const orvex::TopicKey& key,
                                                 orvex::CloudTopic& out) {
  return ExceptionBarrier::run("getDataCache", [&] { return historyApi->getDataCache(key, out); });
}

}  // namespace marketdata
